#pragma once
// Module loggers. Messages are plain lines on standard error, with their control
// characters made visible (support::visible); debug lines appear only after
// setup_logging(..., debug = true). Tests can capture every line instead.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brenkit::app_logging {

enum class Level { debug, info, warning, error };

class Logger {
  public:
    explicit Logger(std::string name) : name_(std::move(name)) {}
    const std::string& name() const { return name_; }

    void debug(std::string_view msg) const;
    void info(std::string_view msg) const;
    void warning(std::string_view msg) const;
    void error(std::string_view msg) const;
    // An error line followed by the description of the failure being handled (call it
    // inside a catch block).
    void exception(std::string_view msg) const;

  private:
    std::string name_;
};

// The logger of a module; the same name gives the same logger.
const Logger& lazy_logger(const std::string& name);

void setup_logging(const std::string& app_name, bool debug, const std::optional<std::string>& file = std::nullopt);
bool debug_enabled();

struct Record {
    Level level;
    std::string logger;
    std::string message;
};

// While alive, lines go to `records` instead of standard error (debug lines only when
// debug logging is on, as on the console). Captures nest: the newest one takes the lines.
class Capture {
  public:
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    const std::vector<Record>& records() const { return records_; }
    std::vector<std::string> messages() const;
    std::string text() const;  // every message, one per line
    void clear() { records_.clear(); }

  private:
    friend void emit(const Logger&, Level, std::string_view);
    std::vector<Record> records_;
    Capture* previous_ = nullptr;  // the capture this one hides while it lives
};

}  // namespace brenkit::app_logging

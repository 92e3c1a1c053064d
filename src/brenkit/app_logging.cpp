#include "brenkit/app_logging.hpp"

#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include <exception>
#include <map>
#include <memory>

#include "support/text.hpp"

namespace brenkit::app_logging {

namespace {

struct State {
    bool debug = false;
    Capture* capture = nullptr;  // the innermost live capture
    std::shared_ptr<spdlog::logger> console;
    std::map<std::string, std::unique_ptr<Logger>, std::less<>> loggers;
};

State& state() {
    static State s;
    return s;
}

std::shared_ptr<spdlog::logger> make_console(const std::optional<std::string>& file) {
    auto err_sink = std::make_shared<spdlog::sinks::stderr_sink_st>();
    err_sink->set_pattern("%v");
    auto logger = std::make_shared<spdlog::logger>("vemtora", err_sink);
    if (file) {
        auto file_sink = std::make_shared<spdlog::sinks::basic_file_sink_st>(*file, false);
        file_sink->set_pattern("%Y-%m-%d %H:%M:%S [%l] %v");
        logger->sinks().push_back(file_sink);
    }
    logger->set_level(spdlog::level::trace);
    logger->flush_on(spdlog::level::trace);
    return logger;
}

spdlog::logger& console() {
    auto& s = state();
    if (!s.console) s.console = make_console(std::nullopt);
    return *s.console;
}

spdlog::level::level_enum to_spdlog(Level level) {
    switch (level) {
        case Level::debug: return spdlog::level::debug;
        case Level::info: return spdlog::level::info;
        case Level::warning: return spdlog::level::warn;
        case Level::error: return spdlog::level::err;
    }
    return spdlog::level::info;
}

// What the failure being handled says about itself, or nothing outside a catch block.
std::string current_failure() {
    auto failure = std::current_exception();
    if (!failure) return "";
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

}  // namespace

// A line is written in its visible form: what it took from outside (a file name, the
// agent's words, git's output) cannot drive the terminal.
void emit(const Logger& logger, Level level, std::string_view msg) {
    auto& s = state();
    if (level == Level::debug && !s.debug) return;
    std::string line = support::visible(msg);
    if (s.capture) {
        s.capture->records_.push_back({level, logger.name(), std::move(line)});
        return;
    }
    console().log(to_spdlog(level), "{}", line);
}

void Logger::debug(std::string_view msg) const { emit(*this, Level::debug, msg); }
void Logger::info(std::string_view msg) const { emit(*this, Level::info, msg); }
void Logger::warning(std::string_view msg) const { emit(*this, Level::warning, msg); }
void Logger::error(std::string_view msg) const { emit(*this, Level::error, msg); }

void Logger::exception(std::string_view msg) const {
    auto what = current_failure();
    if (what.empty()) {
        emit(*this, Level::error, msg);
    } else {
        emit(*this, Level::error, std::string(msg) + "\n" + what);
    }
}

const Logger& lazy_logger(const std::string& name) {
    auto& loggers = state().loggers;
    auto it = loggers.find(name);
    if (it == loggers.end()) it = loggers.emplace(name, std::make_unique<Logger>(name)).first;
    return *it->second;
}

void setup_logging(const std::string& /*app_name*/, bool debug, const std::optional<std::string>& file) {
    auto& s = state();
    s.debug = debug;
    s.console = make_console(file);
}

bool debug_enabled() { return state().debug; }

Capture::Capture() : previous_(state().capture) { state().capture = this; }

Capture::~Capture() { state().capture = previous_; }

std::vector<std::string> Capture::messages() const {
    std::vector<std::string> out;
    out.reserve(records_.size());
    for (const auto& r : records_) out.push_back(r.message);
    return out;
}

std::string Capture::text() const {
    std::string out;
    for (const auto& r : records_) {
        out += r.message;
        out += '\n';
    }
    return out;
}

}  // namespace brenkit::app_logging

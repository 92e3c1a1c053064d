#include "host/parse.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <deque>
#include <functional>

#include "host/help.hpp"
#include "support/sequence_matcher.hpp"
#include "support/text.hpp"

namespace host {

namespace {

std::vector<std::string_view> code_points(std::string_view text) {
    std::vector<std::string_view> points;
    for (size_t pos = 0; pos < text.size();) {
        size_t start = pos;
        support::next_code_point(text, pos);
        points.push_back(text.substr(start, pos - start));
    }
    return points;
}

// How alike two texts are, from 0 to 1: twice the characters of their matching blocks
// over the characters of both.
double similarity(std::string_view known, std::string_view typed) {
    auto a = code_points(known);
    auto b = code_points(typed);
    if (a.empty() && b.empty()) return 1.0;
    size_t matched = 0;
    for (const auto& block : support::SequenceMatcher(a, b).get_matching_blocks()) matched += block.size;
    return 2.0 * static_cast<double>(matched) / static_cast<double>(a.size() + b.size());
}

bool takes_value(const OptionDecl& o) { return o.kind == OptionKind::value || o.kind == OptionKind::optional_value; }

bool looks_like_option(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

class Normaliser {
  public:
    Normaliser(const CommandDecl& decl, const std::vector<std::string>& args)
        : decl_(decl), rargs_(args.begin(), args.end()) {}

    Canonical run() {
        while (!rargs_.empty()) {
            std::string arg = pop();
            if (arg == "--") {
                out_.extras.insert(out_.extras.end(), rargs_.begin(), rargs_.end());
                break;
            }
            if (looks_like_option(arg))
                option(arg);
            else
                out_.extras.push_back(arg);
        }
        return std::move(out_);
    }

  private:
    std::string pop() {
        std::string front = std::move(rargs_.front());
        rargs_.pop_front();
        return front;
    }

    std::vector<std::string> long_names() const {
        std::vector<std::string> names;
        for (const auto& o : decl_.options) {
            names.push_back(o.long_name);
            if (o.kind == OptionKind::flag_pair && !o.negative_name.empty()) names.push_back(o.negative_name);
        }
        names.push_back("--help");
        return names;
    }

    [[noreturn]] void fail(const std::string& message) const { throw UsageError(&decl_, message); }

    void option(const std::string& arg) {
        size_t eq = arg.find('=');
        std::string name = arg.substr(0, eq);
        std::optional<std::string> explicit_value;
        if (eq != std::string::npos) explicit_value = arg.substr(eq + 1);

        if (name == "--help") {
            if (explicit_value) fail(no_value_taken(name));
            out_.help = true;
            return;
        }
        for (const auto& o : decl_.options) {
            bool negative = o.kind == OptionKind::flag_pair && name == o.negative_name;
            if (name != o.long_name && !negative) continue;
            if (takes_value(o)) {
                if (explicit_value) rargs_.push_front(*explicit_value);
                value(name, o, explicit_value.has_value());
            } else if (explicit_value) {
                fail(no_value_taken(name));
            } else {
                out_.tokens.push_back(negative ? o.negative_name : o.long_name);
            }
            return;
        }
        if (arg.rfind("--", 0) == 0) fail(no_such_option(name, long_names()));
        short_options(arg);
    }

    // "-sd" is two flags; "-cVALUE" is -c with the rest of the argument as its value.
    void short_options(const std::string& arg) {
        for (size_t i = 1; i < arg.size(); ++i) {
            std::string opt = std::string("-") + arg[i];
            auto it = std::find_if(decl_.options.begin(), decl_.options.end(),
                                   [&](const OptionDecl& o) { return o.short_name == opt; });
            if (it == decl_.options.end()) {
                // A multi-byte character names no option; report it whole.
                size_t pos = i;
                support::next_code_point(arg, pos);
                fail(no_such_option("-" + arg.substr(i, pos - i)));
            }
            if (takes_value(*it)) {
                bool attached = i + 1 < arg.size();
                if (attached) rargs_.push_front(arg.substr(i + 1));
                value(opt, *it, attached);
                return;
            }
            out_.tokens.push_back(it->long_name);
        }
    }

    // A value written into the same argument ("--config=-x", "-c-x") is the value
    // whatever it looks like; a separate one that looks like an option is not taken
    // by an option whose value may be left out.
    void value(const std::string& typed, const OptionDecl& o, bool attached) {
        bool optional = o.kind == OptionKind::optional_value;
        std::string v;
        if (rargs_.empty()) {
            if (!optional) fail("Option " + help::quoted(typed) + " requires an argument.");
        } else if (attached || !(optional && looks_like_option(rargs_.front()))) {
            v = pop();
        }
        if (v.empty()) {
            out_.tokens.push_back(o.long_name);
            out_.tokens.emplace_back();
        } else {
            out_.tokens.push_back(o.long_name + "=" + v);
        }
        out_.values.emplace_back(&o, v);
    }

    const CommandDecl& decl_;
    std::deque<std::string> rargs_;
    Canonical out_;
};

std::string error_hint(const OptionDecl& o) {
    std::string hint = help::quoted(o.long_name);
    if (!o.short_name.empty()) hint += " / " + help::quoted(o.short_name);
    return hint;
}

// Binds the canonical arguments to the options with CLI11.
OptionValues bind_values(const CommandDecl& decl, const std::vector<std::string>& tokens) {
    struct Slot {
        std::string text;
        bool on = false;
        CLI::Option* option = nullptr;
    };
    std::vector<Slot> slots(decl.options.size());
    CLI::App app{decl.help, decl.name};
    app.set_help_flag();
    app.allow_extras(false);
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    for (size_t i = 0; i < decl.options.size(); ++i) {
        const OptionDecl& o = decl.options[i];
        Slot& slot = slots[i];
        if (takes_value(o)) {
            slot.option = app.add_option(o.long_name, slot.text);
        } else {
            slot.on = o.default_on;
            std::string names = o.long_name;
            if (o.kind == OptionKind::flag_pair && !o.negative_name.empty()) names += ",!" + o.negative_name;
            slot.option = app.add_flag(names, slot.on);
        }
    }
    std::vector<std::string> reversed(tokens.rbegin(), tokens.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        throw UsageError(&decl, e.what());
    }
    OptionValues values;
    for (size_t i = 0; i < decl.options.size(); ++i) {
        const OptionDecl& o = decl.options[i];
        if (!takes_value(o))
            values.set_flag(o.parameter(), slots[i].on);
        else if (slots[i].option->count() > 0)
            values.set_text(o.parameter(), slots[i].text);
    }
    return values;
}

}  // namespace

std::string no_such_option(const std::string& name, const std::vector<std::string>& long_names) {
    // The three closest names with a similarity of 0.6 or more, then alphabetically.
    std::vector<std::pair<double, std::string>> scored;
    for (const auto& known : long_names) {
        double score = similarity(known, name);
        if (score >= 0.6) scored.emplace_back(score, known);
    }
    std::sort(scored.begin(), scored.end(), std::greater<>());
    if (scored.size() > 3) scored.resize(3);
    std::vector<std::string> close;
    for (auto& entry : scored) close.push_back(std::move(entry.second));
    std::sort(close.begin(), close.end());

    std::string message = "No such option: " + name;
    if (close.size() == 1) return message + " Did you mean " + close.front() + "?";
    if (close.size() > 1) return message + " (Possible options: " + support::join(close, ", ") + ")";
    return message;
}

std::string no_value_taken(const std::string& name) {
    return "Option " + help::quoted(name) + " does not take a value.";
}

Canonical canonical_args(const CommandDecl& decl, const std::vector<std::string>& args) {
    return Normaliser(decl, args).run();
}

ParsedCommand parse_command_args(const CommandDecl& decl, const std::vector<std::string>& args) {
    Canonical canonical = canonical_args(decl, args);
    ParsedCommand parsed;
    if (canonical.help) {
        parsed.help = true;
        return parsed;
    }
    // Only the last value of an option counts, as with every repeated option.
    std::vector<const OptionDecl*> seen;
    for (auto it = canonical.values.rbegin(); it != canonical.values.rend(); ++it) {
        const auto& [option, value] = *it;
        if (!option->check || std::find(seen.begin(), seen.end(), option) != seen.end()) continue;
        seen.push_back(option);
        std::string reason = option->check(value);
        if (!reason.empty()) throw UsageError(&decl, "Invalid value for " + error_hint(*option) + ": " + reason);
    }
    if (!canonical.extras.empty()) {
        std::string word = canonical.extras.size() == 1 ? "argument" : "arguments";
        throw UsageError(&decl, "Got unexpected extra " + word + " (" + support::join(canonical.extras, " ") + ")");
    }
    parsed.values = bind_values(decl, canonical.tokens);
    return parsed;
}

}  // namespace host

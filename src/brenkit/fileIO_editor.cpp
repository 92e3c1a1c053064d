// Free text typed into the user's own text editor.
#include <fmt/format.h>

#include "brenkit/fileIO.hpp"
#include "brenkit/fileIO_internal.hpp"
#include "support/env.hpp"
#include "support/files.hpp"
#include "support/paths.hpp"
#include "support/process.hpp"
#include "support/text.hpp"

namespace brenkit::fileIO {

namespace {

// The Windows command interpreter's status for a command it cannot find: most often an
// editor's path with a blank, such as C:\Program Files\..., that is not in quotes.
constexpr int interpreter_not_found = 9009;

std::string chosen_editor() {
    for (const char* name : {"VISUAL", "EDITOR"}) {
        auto value = support::get_env(name);
        if (value && !support::strip(*value).empty()) return *value;
    }
#ifdef _WIN32
    return "notepad";
#else
    return "vi";
#endif
}

// A requirement that the user typed, in the editor's file, until the command settles it.
struct TypedInput {
    fs::path folder;
    fs::path file;
    std::string label;
    const Logger* logger;
};

// The typed inputs of this run. Those never settled go when the program ends normally,
// as the editor's folder always did.
struct TypedInputs {
    std::vector<TypedInput> entries;
    ~TypedInputs() {
        for (const auto& entry : entries) remove_directory(entry.folder);
    }
};
TypedInputs& typed_inputs() {
    static TypedInputs inputs;
    return inputs;
}

std::string without_comments(const std::string& text) {
    std::vector<std::string> kept;
    for (auto& line : support::splitlines(text)) {
        if (line.rfind('#', 0) != 0) kept.push_back(std::move(line));
    }
    return std::string(support::strip(support::join(kept, "\n")));
}

}  // namespace

std::optional<std::string> get_user_input_via_editor(const std::string& initial_text, const std::string& label,
                                                     const Logger* logger) {
    // No editor has run yet: a file for the text that cannot be made (a read-only or full
    // temporary folder) ends the command with the system's reason, as any failed write does,
    // and is not told as an editor that failed.
    const fs::path folder = support::make_temp_dir("vemtora-editor");
    // The folder goes however the editing ends, an interrupt included, unless it holds a
    // requirement, which the command settles (settle_typed_input).
    struct RemovedFolder {
        fs::path path;
        ~RemovedFolder() {
            if (!path.empty()) remove_directory(path);
        }
    } removed_folder{folder};
    const auto file = folder / "input.md";
    support::write_file_atomic(file, initial_text);
    std::optional<std::string> result;
    try {
        auto editor = chosen_editor();
        if (logger) logger->info(fmt::format("💬 正在開啟編輯器 ({}) 以輸入{}，儲存並關閉後繼續...", editor, label));
        support::RunOptions terminal;
        terminal.out = support::Output::inherit;
        terminal.err = support::Output::inherit;
        // The editor setting may carry its own arguments ("code --wait"), so it goes through
        // the shell; the file's path is an argument of its own that the shell never parses.
        auto run = support::run_user_command(editor, {support::utf8_text(file)}, terminal);
        if (run.status == interpreter_not_found && support::is_windows()) {
            if (logger)
                logger->error(fmt::format("❌ 找不到編輯器 {} (結束碼 {})，未取得{}。含空白的路徑 (例如 C:\\Program Files\\...) "
                                          "請用雙引號括起來。",
                                          editor, run.status, label));
        } else if (run.status != 0) {
            if (logger) logger->error(fmt::format("❌ 編輯器 {} 執行失敗 (結束碼 {})，未取得{}。", editor, run.status, label));
        } else if (auto saved = support::read_regular_file(file, max_text_bytes);
                   saved.outcome == support::BoundedRead::Outcome::read) {
            // An editor may save UTF-8 with a byte-order mark (Notepad did by default), which
            // would hide the first line's "#", or UTF-16 (Notepad's "Unicode").
            const auto typed = support::decode_saved_text(saved.bytes);
            if (!typed.well_formed && logger)
                logger->warning(fmt::format("⚠️ {}不是 UTF-8 文字，無法辨識的部分已替換為 U+FFFD；請以 UTF-8 (或含 BOM 的 "
                                            "UTF-16) 儲存: {}",
                                            label, support::utf8_text(file)));
            result = without_comments(typed.text);
            if (!result->empty()) {
                typed_inputs().entries.push_back({folder, file, label, logger});
                removed_folder.path.clear();
            }
        } else if (logger) {
            logger->error(fmt::format("❌ 無法讀回{}的暫存檔: {}", label, support::utf8_text(file)));
        }
    } catch (const std::exception& e) {
        if (logger) logger->error(fmt::format("❌ 無法開啟編輯器輸入{}: {}", label, e.what()));
        result.reset();
    }
    return result;
}

void settle_typed_input(bool keep) {
    auto& entries = typed_inputs().entries;
    for (const auto& entry : entries) {
        try {
            if (!keep) {
                remove_directory(entry.folder);
                continue;
            }
            const Logger& log = entry.logger ? *entry.logger : library_log();
            log.warning(fmt::format("⚠️ 您輸入的{}已保留於：{}", entry.label, support::reference_form(entry.file)));
        } catch (...) {
            // Said on the way out of a failure: nothing more may go wrong here.
        }
    }
    entries.clear();
}

}  // namespace brenkit::fileIO

#pragma once
// The places a run writes or hands to the agent, checked before the agent runs: output
// folders, files a link would take out of the working copy, the folders handed to the
// agent; names that stay in their folder; where a generated document goes.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "brenkit/fileIO.hpp"
#include "support/result.hpp"

namespace vemtora::exchange {

namespace fs = std::filesystem;
using Logger = brenkit::app_logging::Logger;

// Makes the file's folder, with its parents; not where a link would put it outside the
// working copy (the save into it then says why). A folder that cannot be created throws.
void make_parent(const fs::path& path);

// Makes the output folder before anything is asked or the agent runs, so a folder that
// cannot be made or written, or that a link takes out of the working copy, ends the run
// at once. Nothing when the folder is there and can be written; otherwise (the error line
// logged once) the failure result.
std::optional<support::Result> prepare_output_dir(const fs::path& folder, const Logger& logger);
// Tries an existing folder that a run will save into as the save would (the link rule,
// then support::try_save_in), before the agent runs: nothing when a save could go there,
// else the failure result of the line that says why (logged).
std::optional<support::Result> refuse_unwritable(const fs::path& folder, const Logger& logger);
// Checks a file that a run will save, or point the agent at, before the agent runs:
// nothing when the link rule lets it be, else the failure result of the line (logged).
std::optional<support::Result> refuse_link_out(const fs::path& path, brenkit::fileIO::Deed deed, const Logger& logger);
// Checks the folders that an agent's command line hands it, before the agent starts: each
// "--add-dir" value and each folder that an argument names as "@[" + path + "]". The agent
// reads them with the user's rights and follows their links, so a link in them that git
// tracks (one the repository brought) may not lead out of the working copy by the link
// rule. Nothing when none does; else the failure result of the line (logged) that names up
// to ten such links and where they lead. Links that git does not track (a virtual
// environment's interpreter) are the user's own and pass.
std::optional<support::Result> refuse_tracked_links_out(const std::vector<std::string>& agent_argv,
                                                        const Logger& logger);

// Whether the name stays inside the folder it is joined to: one path component, not
// empty, not "." or "..", with no separator of any platform.
bool plain_file_name(const std::string& name);

// Removes every file, in order; absent files are no failure.
void remove_files(const std::vector<fs::path>& paths);

// Where a generated document is saved: `out_path`, unless it exists and the user
// declines to replace it; then a free name in `output_dir` with the same stem and ".md",
// so the old document is never lost. Nothing when no name is free (the line that says so
// is logged): the caller fails with fileIO::no_unique_path.
std::optional<fs::path> overwrite_target(const fs::path& out_path, const fs::path& output_dir, const Logger& logger);

}  // namespace vemtora::exchange

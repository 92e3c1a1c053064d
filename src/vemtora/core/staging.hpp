#pragma once
// What a commit holds: the user's work, never the tool's own files.
#include <string>
#include <vector>

#include "vemtora/core/runwick.hpp"

namespace vemtora::exchange {

// The files this program keeps under `_agy/` of the working folder (an agent's answer
// kept after a failed run, the scratch inputs of a run), as glob patterns: they are the
// tool's, never part of the user's work.
inline constexpr const char* own_files[] = {"_agy/generated-*", "_agy/current-*", "_agy/pipeline-result.md"};
// A git query's words followed by "--" and the pathspecs of the user's work: the whole
// working tree without the tool's own files. For queries only: an exclusion that names an
// ignored folder makes `git add` fail, so stage_users_work unstages them instead.
std::vector<std::string> over_users_work(std::vector<std::string> words);
// Stages with `git add` and the words given (`check` says how git runs and how its failure
// is named), then takes the tool's own files back out of the index, so that a commit holds
// the user's work only, whether or not the user's ignore rules name the tool's folder.
void stage_users_work(const std::vector<std::string>& add_words, const runwick::GitCheck& check);

}  // namespace vemtora::exchange

#include "vemtora/core/staging.hpp"

#include <utility>

#include "brenkit/fileIO.hpp"

#include "vemtora/core/answers.hpp"
#include "vemtora/core/output_places.hpp"

namespace vemtora::exchange {

namespace fileIO = brenkit::fileIO;

namespace {

std::vector<std::string> own_pathspecs(std::vector<std::string> specs, const std::string& magic) {
    for (const char* pattern : own_files) specs.push_back(":(" + magic + ")" + pattern);
    return specs;
}

}  // namespace

std::vector<std::string> over_users_work(std::vector<std::string> words) {
    words.insert(words.end(), {"--", ":/"});
    return own_pathspecs(std::move(words), "exclude,glob");
}

void stage_users_work(const std::vector<std::string>& add_words, const runwick::GitCheck& check) {
    std::vector<std::string> add{"add"};
    add.insert(add.end(), add_words.begin(), add_words.end());
    runwick::git_checked(add, check);
    // Left out of the add itself they would not be: git refuses any pathspec, an exclusion
    // too, that names an ignored path.
    runwick::git_checked(own_pathspecs({"reset", "-q", "--"}, "glob"), {.naming = check.naming});
}

}  // namespace vemtora::exchange

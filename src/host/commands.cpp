// The commands the program offers. A command module declares its command with a
// function that returns its host::CommandDecl; add that call here to register it.
#include "host/registry.hpp"
#include "vemtora/pressling.hpp"

namespace host {

const std::vector<CommandDecl>& commands() {
    static const std::vector<CommandDecl> all = [] {
        std::vector<CommandDecl> list;
        list.push_back(vemtora::pressling::command());
        return list;
    }();
    return all;
}

}  // namespace host

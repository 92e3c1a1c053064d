// The commands the program offers. A command module declares its command with a
// function that returns its host::CommandDecl; add that call here to register it.
#include "host/registry.hpp"

namespace host {

const std::vector<CommandDecl>& commands() {
    static const std::vector<CommandDecl> all = [] {
        std::vector<CommandDecl> list;
        return list;
    }();
    return all;
}

}  // namespace host

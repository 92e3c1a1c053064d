// The commands the program offers. A command module declares its command with a
// function that returns its host::CommandDecl (for a configured command, usually
// `frame::declare` around the module's application step); add that call to the list
// below to register it.
#include "host/registry.hpp"
#include "vemtora/flowkin.hpp"
#include "vemtora/graftwell.hpp"
#include "vemtora/krestel.hpp"
#include "vemtora/launchet.hpp"
#include "vemtora/moldery.hpp"
#include "vemtora/polywend.hpp"
#include "vemtora/pressling.hpp"
#include "vemtora/quillary.hpp"
#include "vemtora/sendrift.hpp"
#include "vemtora/sproutel.hpp"
#include "vemtora/tomebrook.hpp"
#include "vemtora/torvane.hpp"
#include "vemtora/varnel.hpp"

namespace host {

const std::vector<CommandDecl>& commands() {
    static const std::vector<CommandDecl> all = [] {
        std::vector<CommandDecl> list;
        list.push_back(vemtora::quillary::cmd_quillary());
        list.push_back(vemtora::sendrift::cmd_sendrift());
        list.push_back(vemtora::sproutel::cmd_sproutel());
        list.push_back(vemtora::graftwell::cmd_graftwell());
        list.push_back(vemtora::torvane::cmd_torvane());
        list.push_back(vemtora::tomebrook::cmd_tomebrook());
        list.push_back(vemtora::polywend::cmd_polywend());
        list.push_back(vemtora::flowkin::cmd_flowkin());
        list.push_back(vemtora::krestel::cmd_krestel());
        list.push_back(vemtora::moldery::cmd_moldery());
        list.push_back(vemtora::launchet::cmd_launchet());
        list.push_back(vemtora::pressling::cmd_pressling());
        list.push_back(vemtora::varnel::cmd_varnel());
        return list;
    }();
    return all;
}

}  // namespace host

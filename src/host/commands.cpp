// The commands the program offers, one line each, grouped by subsystem (the program's help
// page sorts them by name). A command module declares its command with a function that
// returns its CommandDecl (through `frame::declare`); add a line here to register it, then
// scripts/update-help-goldens writes its help page for the tests.
#include "host/registry.hpp"
#include "vemtora/documents/flowkin.hpp"
#include "vemtora/documents/polywend.hpp"
#include "vemtora/documents/tomebrook.hpp"
#include "vemtora/projects/graftwell.hpp"
#include "vemtora/projects/sproutel.hpp"
#include "vemtora/projects/torvane.hpp"
#include "vemtora/publishing/pressling.hpp"
#include "vemtora/publishing/varnel.hpp"
#include "vemtora/release/quillary.hpp"
#include "vemtora/release/sendrift.hpp"
#include "vemtora/scripting/krestel.hpp"
#include "vemtora/scripting/launchet.hpp"
#include "vemtora/scripting/moldery.hpp"

namespace host {

const std::vector<CommandDecl>& commands() {
    static const std::vector<CommandDecl> all = {
        vemtora::quillary::cmd_quillary(),    // README update from the diff since the last tag; release menu
        vemtora::sendrift::cmd_sendrift(),    // commit message from the diff; commit and push
        vemtora::sproutel::cmd_sproutel(),    // new Python CLI project from the sample project
        vemtora::graftwell::cmd_graftwell(),  // new sub-command module, registered in cli.py
        vemtora::torvane::cmd_torvane(),      // refactoring of one script with the API manuals
        vemtora::tomebrook::cmd_tomebrook(),  // API manuals of source files, new or refactored
        vemtora::polywend::cmd_polywend(),    // translation of a document or report mail
        vemtora::flowkin::cmd_flowkin(),      // Mermaid diagrams
        vemtora::krestel::cmd_krestel(),      // bash scripts, new or refactored
        vemtora::moldery::cmd_moldery(),      // code and document templates from reference files
        vemtora::launchet::cmd_launchet(),    // the agent's interactive terminal UI ("start")
        vemtora::pressling::cmd_pressling(),  // Markdown to stand-alone HTML pages (no AI)
        vemtora::varnel::cmd_varnel(),        // documentation index page and package zip (no AI)
    };
    return all;
}

}  // namespace host

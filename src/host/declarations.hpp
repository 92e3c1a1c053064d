#pragma once
// The command declarations, read by the host under its own names; they come from the
// command layer below, which never includes the host back.
#include "vemtora/core/command.hpp"

namespace host {
using vemtora::CommandDecl;
using vemtora::OptionDecl;
using vemtora::OptionKind;
using vemtora::OptionValues;
}  // namespace host

#pragma once

#include <string>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/report.hpp"
#include "common/disk.hpp"

namespace murmela {

// The lines appended to ~/.zprofile to put ~/.local/bin on the zsh PATH.
inline constexpr std::string_view kPathBlock =
    "\n# Added by Murmela: murmela-cli on PATH\nexport PATH=\"$HOME/.local/bin:$PATH\"\n";

// The "PATH" target: the link ~/.local/bin/murmela-cli to the CLI, and the
// PATH block in ~/.zprofile; every read and change of them through `disk`.
TargetReport link_cli_on_path(IntegrationMode mode, const AgentEnvironment& environment,
                              Disk& disk);

}  // namespace murmela

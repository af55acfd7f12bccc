#include "cli/agents_command.hpp"

#include <algorithm>

#include <unistd.h>

#include "agent_integration/integration.hpp"
#include "app_link/app_link.hpp"
#include "common/paths.hpp"
#include "common/platform.hpp"

namespace murmela {

namespace {

Json report_json(const Reports& reports) {
  Json lines = Json::array();
  for (const auto& report : reports) {
    Json line = {{"target", report.target}, {"state", to_string(report.state)}};
    if (report.detail) line["detail"] = *report.detail;
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace

Done run_agents(const Context& ctx, std::string_view action) {
  auto cli_path = platform::executable_path();
  if (!cli_path) return fail(CliError::failed(cli_path.error()));
  const std::string data_folder = app_data_folder();
  const auto environment = AgentEnvironment::of_process(*cli_path, data_folder);

  Reports reports;
  if (action == "status") {
    reports = run_integration(IntegrationMode::Status, environment);
  } else if (action == "install") {
    reports = run_integration(IntegrationMode::Install, environment);
  } else if (action == "remove" || action == "uninstall") {
    reports = run_integration(IntegrationMode::Remove, environment);
    if (action == "uninstall") ::unlink(join_path(data_folder, kMarkerName).c_str());
  } else {
    reports = ensure_integration(environment).value_or(Reports{});
  }

  print_json(ctx.out, report_json(reports));
  if (std::ranges::any_of(reports, [](const auto& r) { return r.state == ReportState::Failed; })) {
    return fail(CliError::failed("Some targets could not be updated; see `detail`."));
  }
  return {};
}

}  // namespace murmela

// Where a console tool must never write: into a file it reads (under any name or link), nor over
// its own program or another program of the tool folder, whatever path the command line gave.
#pragma once

#include <string>
#include <vector>

namespace kivo {

/// Why writing `output` would destroy something the tool depends on; empty when it may be
/// written. `inputs` are the files the run reads. A path that does not exist yet is always safe.
std::string outputHazard(const std::string& output, const std::vector<std::string>& inputs);

/// The folder holding the running program ("" when it cannot be told).
std::string programFolder();

} // namespace kivo

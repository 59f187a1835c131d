// The process's command line as an option map: "crash-uuid", "email", "product", "version".
#pragma once

#include <boost/program_options/variables_map.hpp>

#include <string>

// Parses the process's own command line (GetCommandLineW). Never throws: a bad command line
// leaves the map empty or filled up to the failing point, silently.
boost::program_options::variables_map ParseCommandLine();

// The option's UTF-8 value, or "" when the map does not hold it.
std::string GetOptionString(const boost::program_options::variables_map& options,
                            const std::string& name);

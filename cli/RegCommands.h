// corvane-reg's commands, one function each: the arguments after the command
// word in, the exit status out (failures are thrown as CommandFailure, which
// RunRegCommand reports). Each is defined in the file named in its comment.
#pragma once

#include <string>
#include <vector>

#include "cli/RegCommand.h"

namespace corvane::cli {

// RegQuery.cpp
int Query(const std::vector<std::wstring>& args, RegConsole& console);
// RegEdit.cpp
int Add(const std::vector<std::wstring>& args, RegConsole& console);
int Delete(const std::vector<std::wstring>& args, RegConsole& console);
// RegCopy.cpp
int Copy(const std::vector<std::wstring>& args, RegConsole& console);
// RegCompare.cpp: 0 identical, 2 different.
int Compare(const std::vector<std::wstring>& args, RegConsole& console);
// RegTransfer.cpp
int Export(const std::vector<std::wstring>& args, RegConsole& console);
int Import(const std::vector<std::wstring>& args, RegConsole& console);
// RegHive.cpp
int Save(const std::vector<std::wstring>& args, RegConsole& console);
int Load(const std::vector<std::wstring>& args, RegConsole& console);
int Unload(const std::vector<std::wstring>& args, RegConsole& console);
int Restore(const std::vector<std::wstring>& args, RegConsole& console);

}  // namespace corvane::cli

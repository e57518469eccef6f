// Helpers of the host information tests: registry values of the test
// prefix written from the 32-bit test program, the Wine version of child
// processes, helper programs run to the end, standard output captured, and
// a drive D: of the prefix.
#ifndef QVX_TESTS_HOST_TEST_SUPPORT_H
#define QVX_TESTS_HOST_TEST_SUPPORT_H

#include <windows.h>
#include <functional>
#include <string>
#include <vector>

// Under HKEY_LOCAL_MACHINE (the 32-bit view, like the program's own).
// Empty on success, else the failing call and its status.
std::string SetRegistryValue(const char *key, const char *name, DWORD type, const void *data, DWORD size);
std::string SetRegistryString(const char *key, const char *name, const std::string &text);
void DeleteRegistryKey(const char *key);

// HKCU\Software\Wine "Version" for processes started afterwards; null
// removes it (Wine's default).
void SetWineVersion(const char *version);

// Runs a command line with the given current directory and waits for its
// end; the exit code, or -1 when it could not be started or did not end.
int RunProgramToEnd(const std::string &commandLine, const std::string &directory, DWORD timeoutMs = 120000);
// The lines of a text file without their line feeds; empty when absent.
std::vector<std::string> ReadTextLines(const std::string &path);

// What a call wrote to the process's standard output.
std::string StandardOutputOf(const std::function<void()> &call);

// Makes sure the prefix has a drive D: (a link in its dosdevices directory
// to a directory of drive C:); true when D:\ is there.
bool EnsureDriveD();

#endif

// Helpers of the host information tests: registry values, the Wine version
// of child processes, helper programs, captured standard output, drive D:.
#include "host_test_support.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>

std::string SetRegistryValue(const char *key, const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY handle;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle, NULL);
    if (status != ERROR_SUCCESS) return "RegCreateKeyEx " + std::string(key) + " " + std::to_string(status);
    status = RegSetValueExA(handle, name, 0, type, (const BYTE *)data, size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS) return "RegSetValueEx " + std::string(name) + " " + std::to_string(status);
    return std::string();
}

std::string SetRegistryString(const char *key, const char *name, const std::string &text)
{
    return SetRegistryValue(key, name, REG_SZ, text.c_str(), (DWORD)text.size() + 1);
}

void DeleteRegistryKey(const char *key)
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
}

void SetWineVersion(const char *version)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) !=
        ERROR_SUCCESS) {
        return;
    }
    if (version) {
        RegSetValueExA(key, "Version", 0, REG_SZ, (const BYTE *)version, (DWORD)strlen(version) + 1);
    } else {
        RegDeleteValueA(key, "Version");
    }
    RegCloseKey(key);
}

int RunProgramToEnd(const std::string &commandLine, const std::string &directory, DWORD timeoutMs)
{
    std::string command = commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, directory.c_str(), &startup, &process)) {
        return -1;
    }
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return (int)code;
}

std::vector<std::string> ReadTextLines(const std::string &path)
{
    std::vector<std::string> lines;
    FILE *file = fopen(path.c_str(), "rt");
    if (!file) return lines;
    std::string line;
    int c;
    while ((c = fgetc(file)) != EOF) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += (char)c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    fclose(file);
    return lines;
}

std::string StandardOutputOf(const std::function<void()> &call)
{
    const char *path = "C:\\www\\captured-stdout.txt";
    fflush(stdout);
    int saved = _dup(_fileno(stdout));
    int file = _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0666);
    _dup2(file, _fileno(stdout));
    _close(file);
    call();
    fflush(stdout);
    _dup2(saved, _fileno(stdout));
    _close(saved);
    std::string text;
    FILE *in = fopen(path, "rb");
    if (!in) return text;
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), in)) > 0) text.append(buffer, n);
    fclose(in);
    return text;
}

bool EnsureDriveD()
{
    if (GetFileAttributesA("D:\\") != INVALID_FILE_ATTRIBUTES) return true;
    // Drives are the links in the prefix's dosdevices directory; Wine starts
    // a Unix program given by its path on drive Z: (the Unix root).
    const char *unixPrefix = getenv("QVX_PREFIX_UNIX");
    if (!unixPrefix) return false;
    CreateDirectoryA("C:\\drive_d", NULL);
    std::string command = std::string("ln -s ../drive_c/drive_d ") + unixPrefix + "/dosdevices/d:";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA("Z:\\bin\\ln", &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        return false;
    }
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return GetFileAttributesA("D:\\") != INVALID_FILE_ATTRIBUTES;
}

// Helpers shared by the tests.
#include "test_support.h"

#include <stdio.h>

#include "app/controller.h"

std::string ReadControllerLog()
{
    std::string text;
    FILE *file = fopen("C:\\www\\suite-data\\controller.log", "rt");
    if (!file) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, n);
    fclose(file);
    return text;
}

void OpenFreshControllerLog()
{
    CreateDirectoryA("C:\\www", NULL);
    CreateDirectoryA("C:\\www\\suite-data", NULL);
    ControllerLogClose();
    ControllerLogOpen();
}

bool WriteWholeFile(const std::string &path, const std::string &content)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = fwrite(content.data(), 1, content.size(), file) == content.size();
    fclose(file);
    return ok;
}

bool FileExistsA(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Between(const std::string &text, const std::string &from, const std::string &to)
{
    size_t start = text.find(from);
    if (start == std::string::npos) return std::string();
    size_t end = to.empty() ? std::string::npos : text.find(to, start + from.size());
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string HexText(DWORD value)
{
    char text[16];
    snprintf(text, sizeof(text), "%#010x", (unsigned)value);
    return text;
}

std::string StatusBlock(const SERVICE_STATUS_PROCESS &s)
{
    return "\nStatus of Service:\n"
           "\tService Type: " + HexText(s.dwServiceType) + "\n"
           "\tCurrent State: " + HexText(s.dwCurrentState) + "\n"
           "\tControls Accepted: " + HexText(s.dwControlsAccepted) + "\n"
           "\tWin32 Exit Code: " + std::to_string((int)s.dwWin32ExitCode) + "\n"
           "\tService Specific Exit Code: " + std::to_string((int)s.dwServiceSpecificExitCode) + "\n"
           "\tCheck Point: " + std::to_string((int)s.dwCheckPoint) + "\n"
           "\tWait Hint: " + std::to_string((int)s.dwWaitHint) + "\n"
           "\tProcess Id: " + std::to_string((int)s.dwProcessId) + "\n"
           "\tService Flags: " + HexText(s.dwServiceFlags) + "\n";
}

#include "ShellRun.h"

#ifdef _WIN32
#include <windows.h>

#include <map>
#include <memory>

#include "PathText.h"
#else
#include <sys/wait.h>

#include <cstdio>
#endif

namespace testsupport {

#ifdef _WIN32

namespace {

std::wstring Wide(const std::string& text) { return PathFromUtf8(text).native(); }

// One argument quoted as the C runtime's command-line parser reads it back: backslashes are
// literal except before a quote, where each is doubled.
std::wstring Quoted(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

// This process's environment with `changes` applied, as a CreateProcess environment block.
std::wstring EnvironmentBlock(const Environment& changes)
{
    // Windows compares names without regard to case.
    struct NoCase {
        bool operator()(const std::wstring& a, const std::wstring& b) const
        {
            return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                        TRUE) == CSTR_LESS_THAN;
        }
    };
    std::map<std::wstring, std::wstring, NoCase> variables;
    const std::unique_ptr<wchar_t, decltype(&FreeEnvironmentStringsW)> current(GetEnvironmentStringsW(),
                                                                               &FreeEnvironmentStringsW);
    for (const wchar_t* entry = current.get(); entry && *entry; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        const size_t equals = text.find(L'=', 1); // names of drive folders start with '='
        if (equals != std::wstring::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : changes)
        variables[Wide(name)] = Wide(value);
    std::wstring block;
    for (const auto& [name, value] : variables)
        block += name + L"=" + value + L'\0';
    return block + L'\0';
}

struct HandleCloser {
    void operator()(HANDLE handle) const
    {
        if (handle && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

} // namespace

ShellRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                    const Environment& environment, bool withErrors)
{
    ShellRun run;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return run;
    const Handle reader(readEnd);
    Handle writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::wstring commandLine = Quoted(Wide(program));
    for (const std::string& argument : arguments)
        commandLine += L" " + Quoted(Wide(argument));
    std::wstring block = EnvironmentBlock(environment);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = withErrors ? writeEnd : GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                        block.data(), nullptr, &startup, &process))
        return run;
    const Handle child(process.hProcess);
    const Handle thread(process.hThread);
    writer.reset(); // the pipe ends when the child (and whatever it started) closes it
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
        run.Output.append(buffer, got);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code))
        run.Exit = static_cast<int>(code);
    // Text mode of the C runtime writes line ends as CR LF; the tests compare lines.
    std::string output;
    for (size_t i = 0; i < run.Output.size(); ++i)
        if (!(run.Output[i] == '\r' && i + 1 < run.Output.size() && run.Output[i + 1] == '\n'))
            output += run.Output[i];
    run.Output = std::move(output);
    return run;
}

#else

namespace {

// Appends word between single quotes, each quote inside written as '\''. Built by appending
// alone: GCC 12 at -O3 warns (wrongly) about overlapping copies in the concatenated form.
void AppendQuoted(std::string& command, const std::string& word)
{
    command.push_back('\'');
    for (const char c : word) {
        if (c == '\'')
            command.append("'\\''");
        else
            command.push_back(c);
    }
    command.push_back('\'');
}

} // namespace

ShellRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                    const Environment& environment, bool withErrors)
{
    std::string command;
    for (const auto& [name, value] : environment) {
        command.append(name);
        command.push_back('=');
        AppendQuoted(command, value);
        command.push_back(' ');
    }
    AppendQuoted(command, program);
    for (const std::string& argument : arguments) {
        command.push_back(' ');
        AppendQuoted(command, argument);
    }
    if (withErrors)
        command.append(" 2>&1");
    return RunShell(command);
}

ShellRun RunShell(const std::string& command)
{
    ShellRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.Output.append(buffer, got);
    const int status = pclose(pipe);
    run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

#endif

} // namespace testsupport

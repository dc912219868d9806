#include "controller/platform/autostart.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace kv::controller {
namespace {

namespace fs = std::filesystem;

std::string EntryPath(const std::string& name) {
    const std::string folder = AutostartFolder();
    if (folder.empty() || name.empty() || name.find('/') != std::string::npos) {
        return {};
    }
    return folder + "/" + name + ".desktop";
}

// Characters that make an Exec= argument need quotes.
bool IsReserved(char c) {
    switch (c) {
        case ' ':
        case '\t':
        case '\n':
        case '"':
        case '\'':
        case '\\':
        case '>':
        case '<':
        case '~':
        case '|':
        case '&':
        case ';':
        case '$':
        case '*':
        case '?':
        case '#':
        case '(':
        case ')':
        case '`':
            return true;
        default:
            return false;
    }
}

// The string-value escapes every desktop entry value goes through.
std::string EscapeValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
                break;
        }
    }
    return out;
}

}  // namespace

std::string AutostartFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::string(config) + "/autostart";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.config/autostart";
    }
    return {};
}

std::string DesktopExecValue(const std::string& programPath) {
    bool quote = false;
    std::string argument;
    for (char c : programPath) {
        if (IsReserved(c)) {
            quote = true;
        }
        // A literal percent sign is written doubled, or it would read as a field code.
        if (c == '%') {
            argument += "%%";
            continue;
        }
        argument += c;
    }
    if (quote) {
        // Inside double quotes, the quote, backquote, dollar and backslash are escaped.
        std::string quoted = "\"";
        for (char c : argument) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') {
                quoted += '\\';
            }
            quoted += c;
        }
        quoted += '"';
        argument = quoted;
    }
    return EscapeValue(argument);
}

bool WriteAutostartEntry(const std::string& name, const std::string& programPath) {
    const std::string path = EntryPath(name);
    if (path.empty() || programPath.empty() || programPath.front() != '/') {
        return false;
    }
    std::error_code error;
    fs::create_directories(AutostartFolder(), error);
    if (error) {
        return false;
    }
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        out << "[Desktop Entry]\n"
            << "Type=Application\n"
            << "Name=" << EscapeValue(name) << "\n"
            << "Exec=" << DesktopExecValue(programPath) << "\n"
            << "Terminal=false\n"
            << "X-GNOME-Autostart-enabled=true\n";
        out.flush();
        if (!out) {
            out.close();
            fs::remove(temp, error);
            return false;
        }
    }
    fs::rename(temp, path, error);
    if (error) {
        fs::remove(temp, error);
        return false;
    }
    return true;
}

bool RemoveAutostartEntry(const std::string& name) {
    const std::string path = EntryPath(name);
    if (path.empty()) {
        return false;
    }
    std::error_code error;
    fs::remove(path, error);
    return !error;
}

bool HasAutostartEntry(const std::string& name) {
    const std::string path = EntryPath(name);
    std::error_code error;
    return !path.empty() && fs::is_regular_file(path, error);
}

}  // namespace kv::controller

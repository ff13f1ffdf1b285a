// A compiled stand-in for sysctl, for benchmarks inside a test node: the
// node's shell-script fake starts several processes per call, which would
// hide the cost of the tools being compared. One file per kernel value under
// /var/lib/vxl-fake-sysctl, kept byte for byte.
//
//   sysctl [-n] [-e] KEY...           prints "KEY = VALUE" (VALUE with -n)
//   sysctl [-w] [-q] KEY=VALUE...     stores, prints "KEY = VALUE" unless -q
//   sysctl -p [FILE]                  loads "key = value" lines (default
//                                     /etc/sysctl.conf) and prints each
// An unknown key is an error (exit 255) unless -e is given.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kValues = "/var/lib/vxl-fake-sysctl/";

struct Options {
    bool names = true;
    bool write = false;
    bool quiet = false;
    bool ignore = false;
    bool load = false;
};

int exitCode = 0;

std::string trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

std::string keyOf(std::string key) {
    for (char& c : key) {
        if (c == '/') c = '.';
    }
    return key;
}

bool validKey(const std::string& key) {
    return !key.empty() && key[0] != '.' && key.find("..") == std::string::npos &&
           key.find('/') == std::string::npos;
}

bool readValue(const std::string& key, std::string& value) {
    if (!validKey(key)) return false;
    const int fd = ::open((kValues + key).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    value.clear();
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) value.append(buffer, n);
    ::close(fd);
    return true;
}

void unknown(const Options& o, const std::string& key) {
    if (o.ignore) return;
    std::string path = key;
    for (char& c : path) {
        if (c == '.') c = '/';
    }
    std::fprintf(stderr, "sysctl: cannot stat /proc/sys/%s: No such file or directory\n",
                 path.c_str());
    exitCode = 255;
}

void show(const Options& o, const std::string& raw) {
    const std::string key = keyOf(raw);
    std::string value;
    if (!readValue(key, value)) return unknown(o, key);
    if (o.names) std::printf("%s = ", key.c_str());
    std::printf("%s\n", value.c_str());
}

void set(const Options& o, const std::string& raw, const std::string& value) {
    const std::string key = keyOf(raw);
    std::string old;
    if (!readValue(key, old)) return unknown(o, key);
    const int fd = ::open((kValues + key).c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0 || ::write(fd, value.data(), value.size()) != static_cast<ssize_t>(value.size())) {
        std::fprintf(stderr, "sysctl: permission denied on key '%s'\n", key.c_str());
        exitCode = 255;
    }
    if (fd >= 0) ::close(fd);
    if (!o.quiet) std::printf("%s = %s\n", key.c_str(), value.c_str());
}

void assign(const Options& o, const std::string& text) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos) {
        std::fprintf(stderr, "sysctl: \"%s\" must be of the form name=value\n", text.c_str());
        exitCode = 255;
        return;
    }
    set(o, text.substr(0, eq), text.substr(eq + 1));
}

void load(Options o, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "re");
    if (f == nullptr) {
        std::fprintf(stderr, "sysctl: cannot open \"%s\": No such file or directory\n",
                     path.c_str());
        exitCode = 255;
        return;
    }
    char* line = nullptr;
    size_t size = 0;
    for (ssize_t n; (n = ::getline(&line, &size, f)) >= 0;) {
        std::string l(line, static_cast<size_t>(n));
        if (!l.empty() && l.back() == '\n') l.pop_back();
        l = trim(l);
        if (l.empty() || l[0] == '#' || l[0] == ';') continue;
        Options lax = o;
        if (l[0] == '-') {
            lax.ignore = true;
            l.erase(0, 1);
        }
        const size_t eq = l.find('=');
        if (eq != std::string::npos) set(lax, trim(l.substr(0, eq)), trim(l.substr(eq + 1)));
    }
    std::free(line);
    std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::vector<std::string> operands;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--values") {
            o.names = false;
        } else if (a == "--write") {
            o.write = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--ignore") {
            o.ignore = true;
        } else if (a == "--load" || a.rfind("-p", 0) == 0) {
            o.load = true;
            if (a.size() > 2 && a[1] == 'p') operands.push_back(a.substr(2));
        } else if (a.size() > 1 && a[0] == '-') {
            for (char c : a.substr(1)) {
                if (c == 'n') {
                    o.names = false;
                } else if (c == 'w') {
                    o.write = true;
                } else if (c == 'q') {
                    o.quiet = true;
                } else if (c == 'e') {
                    o.ignore = true;
                } else {
                    std::fprintf(stderr, "sysctl: invalid option -- '%c'\n", c);
                    return 1;
                }
            }
        } else {
            operands.push_back(a);
        }
    }
    if (o.load && operands.empty()) operands.push_back("/etc/sysctl.conf");
    if (operands.empty()) {
        std::fprintf(stderr, "sysctl: no variables specified\n");
        return 1;
    }
    for (const std::string& a : operands) {
        if (o.load) {
            load(o, a);
        } else if (o.write || a.find('=') != std::string::npos) {
            assign(o, a);
        } else {
            show(o, a);
        }
    }
    return exitCode;
}

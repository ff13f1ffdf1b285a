#include "SimNodes.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "NodeLayers.h"
#include "NodeTools.h"
#include "src/util/ShellQuote.h"

namespace vxl_fixup::simnode {

namespace {

bool isPlainChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '/' ||
           c == '-';
}

bool hostnameLabelStart(const std::string& s) {
    if (s.empty() || s.size() > 40 || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-';
    });
}

bool parseNumber(const std::string& text, unsigned long long* value) {
    if (text.empty() || text.size() > 20 || !std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        })) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    *value = std::strtoull(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

}  // namespace

std::vector<SimNode> simNodes(int count, const std::string& prefix) {
    std::vector<SimNode> nodes;
    if (count < 1 || count > kMaxNodes || !hostnameLabelStart(prefix)) return nodes;
    const int width = std::max<int>(2, static_cast<int>(std::to_string(count).size()));
    for (int i = 1; i <= count; ++i) {
        std::string number = std::to_string(i);
        number.insert(0, static_cast<size_t>(width) - number.size(), '0');
        nodes.push_back({prefix + number, "127.0.1." + std::to_string(i)});
    }
    return nodes;
}

bool plainName(const std::string& name) { return hostnameLabelStart(name) && name.size() <= 63; }

bool plainFolder(const std::string& dir) {
    if (dir.size() < 2 || dir[0] != '/' || dir.size() > 200) return false;
    if (!std::all_of(dir.begin(), dir.end(), isPlainChar)) return false;
    for (const std::string& part : node_detail::splitPath(dir)) {
        if (part == "." || part == "..") return false;
    }
    return dir.find("//") == std::string::npos;
}

std::string nodeLines(const std::vector<SimNode>& nodes) {
    std::string text;
    for (const SimNode& n : nodes) text += n.address + " " + n.name + "\n";
    return text;
}

std::string hostsText(const std::string& machineHosts, const std::vector<SimNode>& nodes) {
    std::string text = machineHosts;
    if (!text.empty() && text.back() != '\n') text += '\n';
    return text + "# simulated nodes\n" + nodeLines(nodes);
}

std::string inventoryText(const std::string& dir, const std::vector<SimNode>& nodes) {
    std::string text = "[vxlfixup_simnodes]\n";
    for (const SimNode& n : nodes) {
        const std::string home = dir + "/" + n.name;
        text += n.name + " ansible_connection=community.general.chroot ansible_host=" + home +
                "/root ansible_chroot_exe=" + home +
                "/chroot-exe ansible_python_interpreter=/usr/bin/python3 vxlfixup_address=" +
                n.address + "\n";
    }
    return text;
}

std::string chrootExeScript(const std::string& program, const std::string& dir,
                            const std::string& name) {
    return "#!/bin/sh\n"
           "# Runs a command in the simulated node " +
           name +
           ", called as: chroot-exe ROOT COMMAND...\n"
           "# ROOT is dropped: the node has its own.\n"
           "[ $# -ge 2 ] || { echo \"usage: $0 ROOT COMMAND...\" >&2; exit 2; }\n"
           "shift\n"
           "exec " +
           shellQuote(program) + " exec --dir " + shellQuote(dir) + " " + shellQuote(name) +
           " -- \"$@\"\n";
}

std::string formatState(const NodeState& s) {
    std::ostringstream out;
    out << "supervisor=" << s.supervisor << " " << s.supervisorStart << "\n"
        << "init=" << s.init << " " << s.initStart << "\n"
        << "keeper=" << s.keeper << " " << s.keeperStart << "\n"
        << "address=" << s.address << "\n";
    return out.str();
}

std::optional<NodeState> parseState(const std::string& text) {
    NodeState s;
    int seen = 0;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return std::nullopt;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "address") {
            s.address = value;
            seen |= 8;
            continue;
        }
        const size_t blank = value.find(' ');
        unsigned long long pid = 0, start = 0;
        if (blank == std::string::npos || !parseNumber(value.substr(0, blank), &pid) ||
            !parseNumber(value.substr(blank + 1), &start) || pid < 2 || pid > 4194304 ||
            start == 0) {
            return std::nullopt;
        }
        pid_t* pidField = nullptr;
        unsigned long long* startField = nullptr;
        int bit = 0;
        if (key == "supervisor") {
            pidField = &s.supervisor, startField = &s.supervisorStart, bit = 1;
        } else if (key == "init") {
            pidField = &s.init, startField = &s.initStart, bit = 2;
        } else if (key == "keeper") {
            pidField = &s.keeper, startField = &s.keeperStart, bit = 4;
        } else {
            return std::nullopt;
        }
        *pidField = static_cast<pid_t>(pid);
        *startField = start;
        seen |= bit;
    }
    if (seen != 15) return std::nullopt;
    return s;
}

KernelValues defaultKernelValues() {
    // Values of a freshly installed machine, below what a database cluster
    // asks for, so a plan of the example has something to change.
    return {{"fs.aio-max-nr", "65536"},
            {"fs.file-max", "65536"},
            {"kernel.panic", "0"},
            {"kernel.panic_on_oops", "0"},
            {"kernel.sem", "250\t32000\t100\t128"},
            {"kernel.shmall", "18446744073692774399"},
            {"kernel.shmmax", "18446744073692774399"},
            {"kernel.shmmni", "4096"},
            {"net.core.rmem_default", "212992"},
            {"net.core.rmem_max", "212992"},
            {"net.core.wmem_default", "212992"},
            {"net.core.wmem_max", "212992"},
            {"net.ipv4.ip_local_port_range", "32768\t60999"},
            {"vm.min_free_kbytes", "67584"},
            {"vm.nr_hugepages", "0"},
            {"vm.swappiness", "60"}};
}

bool addKernelValue(KernelValues& values, const std::string& assignment, std::string* error) {
    const size_t eq = assignment.find('=');
    const std::string key =
        eq == std::string::npos ? std::string() : node_detail::sysctlKey(assignment.substr(0, eq));
    const std::string value = eq == std::string::npos ? std::string() : assignment.substr(eq + 1);
    if (key.empty() || value.find_first_of("\n", 0) != std::string::npos ||
        value.find('\0') != std::string::npos) {
        *error = "bad kernel value '" + assignment + "' (KEY=VALUE, one line)";
        return false;
    }
    for (auto& kv : values) {
        if (kv.first == key) {
            kv.second = value;
            return true;
        }
    }
    values.emplace_back(key, value);
    return true;
}

unsigned long long processStart(pid_t pid) {
    std::optional<std::string> stat =
        node_detail::readWholeFile("/proc/" + std::to_string(pid) + "/stat");
    // "pid (comm) state ppid ...": the command name may hold anything.
    const size_t close = stat ? stat->rfind(')') : std::string::npos;
    if (close == std::string::npos) return 0;
    std::istringstream fields(stat->substr(close + 2));
    std::string field;
    // Field 3 (state) is the first after the name; the start time is field 22.
    for (int i = 3; i <= 22; ++i) {
        if (!(fields >> field)) return 0;
    }
    unsigned long long start = 0;
    return parseNumber(field, &start) ? start : 0;
}

}  // namespace vxl_fixup::simnode

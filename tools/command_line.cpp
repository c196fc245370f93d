#include "tools/command_line.h"

#include <sys/stat.h>

const std::vector<std::string> mesh_flags{"--fit"};
const std::vector<std::string> mesh_valued{"--mesh", "--up"};

std::string read_argument(int argc, char** argv, int* i, const std::vector<std::string>& flags,
                          const std::vector<std::string>& valued, argument* a) {
    const std::string arg = argv[*i];
    *a = {"", "", arg};
    for (const std::string& f : flags) {
        if (arg != f) continue;
        a->name = f;
        return "";
    }
    for (const std::string& v : valued) {
        if (arg == v) {
            if (*i + 1 >= argc) return v + " needs a value";
            a->value = argv[++*i];
        } else if (arg.compare(0, v.size() + 1, v + "=") == 0) {
            a->value = arg.substr(v.size() + 1);
        } else {
            continue;
        }
        a->name = v;
        return a->value.empty() ? arg + ": empty value" : "";
    }
    return "unknown argument '" + arg + "'";
}

namespace {

// --up's value: one of +x, -x, +y, -y, +z, -z.
std::string take_up(const std::string& value, up_axis* up) {
    const std::string axes = "xyz";
    if (value.size() != 2 || (value[0] != '+' && value[0] != '-') || axes.find(value[1]) == std::string::npos)
        return "--up " + value + ": give one of +x, -x, +y, -y, +z, -z";
    *up = {static_cast<int>(axes.find(value[1])), value[0] == '+' ? 1 : -1};
    return "";
}

}  // namespace

bool take_mesh_option(const argument& a, mesh_options* o, std::string* why) {
    why->clear();
    if (a.name == "--fit")
        o->placement.fit = true;
    else if (a.name == "--mesh")
        o->mesh = a.value;
    else if (a.name == "--up")
        *why = take_up(a.value, &o->placement.up);
    else
        return false;
    return true;
}

bool same_file(const char* mesh, const char* output) {
    struct stat a, b;
    return stat(mesh, &a) == 0 && stat(output, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

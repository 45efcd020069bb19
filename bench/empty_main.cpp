// The floor of every measurement of the launcher's own work: a C++ program
// linked like the launcher (libstdc++, libdl) that does nothing, so its wall
// time is the cost of starting and ending such a process.
#include <string>

int main(int argc, char**) { return std::string(static_cast<size_t>(argc), 'x').size() > 100 ? 1 : 0; }

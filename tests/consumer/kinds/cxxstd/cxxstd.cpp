// A C++ host whose project asks for C++11: it compiles only because zv::zv asks for the
// standard zv.hpp needs. Prints the status and the size of the byte code of argv[1].
#include <zv.hpp>

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const zv::result result = zv::compile(argv[1]);
    std::cout << result.status << ' ' << result.code.size() << '\n';
    return 0;
}

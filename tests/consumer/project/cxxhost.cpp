// A C++ host of the installed library: compiles the program in argv[1] (included files
// are read from the working directory) and writes its byte code to argv[2]; a compile
// error prints FILE:LINE:COLUMN: MESSAGE and exits 1.
#include <zv.hpp>

#include <fstream>
#include <iostream>
#include <iterator>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::ifstream in(argv[1], std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    zv::options options;
    options.name = argv[1];
    const zv::result result = zv::compile(text, options);
    if (!result.ok()) {
        for (const auto& d : result.diagnostics)
            std::cerr << d.where.file << ':' << d.where.line << ':' << d.where.column << ": "
                      << d.message << '\n';
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(result.code.data()),
              static_cast<std::streamsize>(result.code.size()));
    std::cout << "zv " << zv::version() << ": " << result.code.size() << " bytes\n";
    return out ? 0 : 1;
}

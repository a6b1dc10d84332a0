#!/usr/bin/env bash
# The installed package, as its users meet it. Each step is one CTest test:
#
#   consumer.sh install        cmake --install the build tree into $PREFIX (fixture);
#                              the installed zv and zvdis print the version
#   consumer.sh cmake GEN      a CMake project using find_package(zv) and zv_add_bytecode,
#                              under the generator GEN: bytes equal zvc's, a second build
#                              runs nothing, touching an included file rebuilds exactly the
#                              program that includes it; its C++ host (zv::zv) runs
#   consumer.sh kinds GEN      the package in every kind of project: byte code only
#                              (project NONE), C only with zv::zv_static, C++ asking for
#                              C++11 with zv::zv (raised to what zv.hpp needs)
#   consumer.sh c              a threaded C host built with cc and pkg-config
#   consumer.sh deb            cpack -G DEB, and the package's file list
#   consumer.sh completion     the bash completions offer the options
#   consumer.sh manpages       zv(1) names every subcommand, option and warning the
#                              installed zv knows
#
# Environment (set by CMake): BUILD (the build tree), PREFIX, SOURCE (this folder),
# WORK (a scratch folder per test), VERSION, CXX, EXTRAFLAGS (sanitizer flags), MANPAGES
# (1 when the man pages are built).
set -euo pipefail

die() {
    echo "FAIL: $*" >&2
    exit 1
}

zvc=$PREFIX/bin/zvc
export LD_LIBRARY_PATH=$PREFIX/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}

fresh() {
    rm -rf "$WORK"
    mkdir -p "$WORK"
    cd "$WORK"
}

# Compiles $1 with the installed zvc in a scratch folder holding the .ZVEX files beside
# it, and prints the path of the byte code it wrote.
zvcbytes() {
    local ref=$WORK/ref/$(basename "$1" .zv)
    mkdir -p "$ref"
    cp "$(dirname "$1")"/*.ZVEX "$ref"/ 2>/dev/null || true
    (cd "$ref" && "$zvc" "$1" >/dev/null 2>&1) || die "zvc failed on $1"
    echo "$ref/$(basename "$1" .zv).zvbc"
}

step_install() {
    rm -rf "$PREFIX"
    cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null
    for tool in zv zvdis; do
        [ "$("$PREFIX/bin/$tool" --version)" = "$tool $VERSION" ] || die "$tool --version"
    done
}

# The zv programs compiled by the last build, one stem per line, from its log.
compiled() {
    grep -o 'Compiling zv program [A-Za-z0-9_]*' "$1" | sed 's/.* //' | sort | tr '\n' ' '
}

step_cmake() {
    local generator=$1
    fresh
    # The project lies in a folder whose name holds a blank, which the dependency files
    # must escape. (CMake's own rewriting of dependency files mangles '#' and '$'; the
    # zvbuild tests check those with make and ninja directly.)
    cp -r "$SOURCE/project" 'src dir'
    ln -s 'src dir' src
    cmake -S 'src dir' -B build -G "$generator" -DCMAKE_PREFIX_PATH="$PREFIX" \
        -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_CXX_FLAGS="$EXTRAFLAGS" \
        -DCMAKE_BUILD_RPATH="$PREFIX/lib" >configure.log 2>&1 ||
        { cat configure.log; die "configure ($generator)"; }
    build() { cmake --build build -j2 >"$1" 2>&1 || { cat "$1"; die "build ($generator)"; }; }

    build first.log
    [ "$(compiled first.log)" = "counter greeter " ] || die "first build compiled: $(compiled first.log)"
    for stem in greeter counter; do
        cmp "$(zvcbytes "$WORK/src/programs/$stem.zv")" "build/bytecode/$stem.zvbc" ||
            die "$stem.zvbc differs from zvc's"
    done
    build/cxxhost src/programs/counter.zv counter.host >/dev/null || die "C++ host failed"
    cmp counter.host build/bytecode/counter.zvbc || die "C++ host's byte code differs"
    (cd src/programs && ../../build/cxxhost greeter.zv ../../greeter.host >/dev/null) ||
        die "C++ host failed on a program with an include"
    cmp greeter.host build/bytecode/greeter.zvbc || die "C++ host's byte code differs"

    local before
    before=$(stat -c %Y.%y build/bytecode/*.zvbc)
    build second.log
    [ -z "$(compiled second.log)" ] || die "a build with nothing changed compiled: $(compiled second.log)"
    if [ "$generator" = Ninja ]; then
        grep -q 'no work to do' second.log || die "ninja found work: $(cat second.log)"
    fi
    [ "$before" = "$(stat -c %Y.%y build/bytecode/*.zvbc)" ] || die "byte code rewritten"

    touch src/programs/shapes.ZVEX
    build third.log
    [ "$(compiled third.log)" = "greeter " ] || die "touching shapes.ZVEX compiled: $(compiled third.log)"

    # An edit of the included file reaches the byte code.
    echo 'def perimeter(w, h) {' >>src/programs/shapes.ZVEX
    echo '    return 2*(w+h)' >>src/programs/shapes.ZVEX
    echo '}' >>src/programs/shapes.ZVEX
    build fourth.log
    [ "$(compiled fourth.log)" = "greeter " ] || die "editing shapes.ZVEX compiled: $(compiled fourth.log)"
    cmp "$(zvcbytes "$WORK/src/programs/greeter.zv")" build/bytecode/greeter.zvbc ||
        die "greeter.zvbc after the edit differs from zvc's"
    echo "consumer ($generator): ok"
}

step_kinds() {
    local generator=$1
    fresh
    local programs=$SOURCE/project/programs
    for kind in none conly cxxstd; do
        cmake -S "$SOURCE/kinds/$kind" -B "$kind" -G "$generator" -DCMAKE_PREFIX_PATH="$PREFIX" \
            -DPROGRAMS_DIR="$programs" -DCMAKE_BUILD_RPATH="$PREFIX/lib" \
            -DCMAKE_C_FLAGS="$EXTRAFLAGS" -DCMAKE_CXX_FLAGS="$EXTRAFLAGS" \
            -DCMAKE_EXE_LINKER_FLAGS="$EXTRAFLAGS" >"$kind.log" 2>&1 ||
            { cat "$kind.log"; die "configure $kind"; }
        cmake --build "$kind" >>"$kind.log" 2>&1 || { cat "$kind.log"; die "build $kind"; }
    done
    cmp "$(zvcbytes "$programs/counter.zv")" none/bytecode/counter.zvbc ||
        die "byte code of the project without languages differs from zvc's"
    local expected
    expected="0 $(stat -c %s none/bytecode/counter.zvbc)"
    [ "$(conly/cstatic "$(cat "$programs/counter.zv")")" = "$expected" ] || die "C host (static)"
    [ "$(cxxstd/cxxstd "$(cat "$programs/counter.zv")")" = "$expected" ] || die "C++11 host"
    readelf -d conly/cstatic | grep -q 'libzv.so' && die "cstatic uses the shared library"
    echo "kinds ($generator): ok"
}

step_c() {
    fresh
    local flags
    flags=$(PKG_CONFIG_PATH=$PREFIX/lib/pkgconfig pkg-config --cflags --libs zv) ||
        die "pkg-config does not know zv"
    # shellcheck disable=SC2086
    cc -std=c11 -Wall -Wextra -Werror $EXTRAFLAGS -pthread -DZV_EXPECTED_VERSION="\"$VERSION\"" \
        "$SOURCE/chost.c" -o chost $flags -Wl,-rpath,"$PREFIX/lib" || die "cc chost.c"
    readelf -d chost | grep -q 'libzv.so.1' || die "chost does not use the shared library"
    mkdir programs
    cp "$SOURCE/project/programs/"* programs/
    cp "$SOURCE/../../examples/"* programs/
    # Eight programs: the examples, and variations of the consumer's programs.
    for i in 1 2 3; do
        sed "s/\"world\"/\"world $i\"/" programs/greeter.zv >programs/greeter$i.zv
    done
    local sources=(greeter.zv counter.zv greeter1.zv greeter2.zv greeter3.zv demo.zv shapes.zv inventory.zv)
    mkdir refs
    for s in "${sources[@]}"; do cp "$(zvcbytes "$WORK/programs/$s")" refs/; done
    (cd programs && ../chost ../refs "${sources[@]}") || die "C host"
}

# The files of the three packages, and lintian's verdict (no error) when it is installed.
step_deb() {
    fresh
    cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK" >cpack.log 2>&1 ||
        { cat cpack.log; die "cpack"; }
    local lib=(/usr/lib/libzv.so.1 "/usr/lib/libzv.so.$VERSION" /usr/share/doc/libzv1/copyright
        /usr/share/doc/libzv1/changelog.Debian.gz)
    local dev=(/usr/include/zv.h /usr/include/zv.hpp /usr/lib/libzv.a /usr/lib/libzv.so
        /usr/lib/pkgconfig/zv.pc /usr/lib/cmake/zv/zvConfig.cmake
        /usr/lib/cmake/zv/zvConfigVersion.cmake /usr/lib/cmake/zv/zvTargets.cmake
        /usr/lib/cmake/zv/ZvBytecode.cmake /usr/share/doc/zv/embedding.md
        /usr/share/doc/libzv-dev/copyright)
    local tools=(/usr/bin/zvc /usr/bin/zvdis /usr/bin/zv /usr/share/bash-completion/completions/zv
        /usr/share/bash-completion/completions/zvdis /usr/share/bash-completion/completions/zvc
        /usr/share/doc/zv/language.md /usr/share/doc/zv/copyright)
    # The man pages are built when scdoc is found.
    [ "$MANPAGES" = 1 ] && tools+=(/usr/share/man/man1/zvc.1.gz /usr/share/man/man1/zvdis.1.gz
        /usr/share/man/man1/zv.1.gz)
    check_package() {
        local name=$1
        shift
        local deb
        deb=$(ls "$WORK"/"${name}"_*.deb) || die "no package $name: $(ls "$WORK")"
        dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$name.contents"
        for f in "$@"; do
            grep -qxF "$f" "$name.contents" || die "$f missing from $name: $(cat "$name.contents")"
        done
        dpkg-deb -f "$deb" Version | grep -qx "$VERSION-1" || die "$name version: $(dpkg-deb -f "$deb")"
        [ -n "$(dpkg-deb -f "$deb" Description | tail -n +2)" ] || die "$name has no long description"
        if command -v lintian >/dev/null; then
            lintian --fail-on error "$deb" >"$name.lintian" 2>&1 ||
                { cat "$name.lintian"; die "lintian finds errors in $name"; }
        fi
    }
    check_package libzv1 "${lib[@]}"
    check_package libzv-dev "${dev[@]}"
    check_package zv "${tools[@]}"
    dpkg-deb -f "$WORK"/libzv-dev_*.deb Depends | grep -q "libzv1 (= $VERSION-1)" ||
        die "libzv-dev does not depend on its libzv1"
    dpkg-deb -f "$WORK"/zv_*.deb Depends | grep -q "libc6 (>= " || die "zv's Depends lack versions"
    echo "deb: ok"
}

# Runs the completion function of $1 on the words of the command line "$2" (the cursor
# after the last word) and prints the candidates. bash-completion's helpers are stubbed.
complete_words() {
    bash -c '
        _init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]};
                             words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }
        _filedir() { COMPREPLY=(FILES); }
        source "$1"
        read -ra COMP_WORDS <<<"$2"
        [[ $2 == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        "_$(basename "$1" .bash)"
        echo "${COMPREPLY[*]}"' _ "$SOURCE/../../completions/$1.bash" "$2"
}

step_completion() {
    local cases=(
        "zv|zv |check build lsp --help --version"
        "zv|zv l|lsp"
        "zv|zv check -Wno-e|-Wno-empty-element"
        "zv|zv check -Wna|-Wname-punctuation -Wname-digit"
        "zv|zv check -We|-Werror -Wempty-element"
        "zvc|zvc |FILES"
        "zvc|zvc a.zv |"
        "zv|zv b|build"
        "zv|zv build -M|-MD -MF -MT -MP"
        "zv|zv build -o |FILES"
        "zv|zv check --format |text json sarif"
        "zv|zv check --color a|auto always"
        "zvdis|zvdis --c|--check --code-raw"
        "zvdis|zvdis --v|--version"
    )
    for c in "${cases[@]}"; do
        IFS='|' read -r tool line expected <<<"$c"
        local got
        got=$(complete_words "$tool" "$line")
        [ "$got" = "$expected" ] || die "completing '$line': got '$got', expected '$expected'"
    done
    # Every warning zv check knows is completed, and nothing else.
    local names
    names=$("$PREFIX/bin/zv" check --help | sed -n '/^Warnings/,$p' | sed -n 's/^  \([a-z-]*\):.*/\1/p' | sort | tr '\n' ' ')
    [ -n "$names" ] || die "zv check --help lists no warnings"
    local completed
    completed=$(complete_words zv "zv check -Wno-" | tr ' ' '\n' | sed 's/^-Wno-//' | sort | tr '\n' ' ')
    [ "$completed" = "$names" ] || die "completed warnings '$completed', zv knows '$names'"
    echo "completion: ok"
}

step_manpages() {
    [ "$MANPAGES" = 1 ] || { echo "manpages: not built"; return; }
    local page
    page=$(zcat "$PREFIX/share/man/man1/zv.1.gz")
    local words=(lsp)
    # The options of each subcommand's help, and every warning name.
    for command in check build; do
        words+=($("$PREFIX/bin/zv" "$command" --help | grep -oE '^ +(-[a-zA-Z],)?--?[a-zA-Z][a-zA-Z-]*' |
            sed 's/.*,//; s/^ *//' | grep -v -- '--help'))
    done
    words+=($("$PREFIX/bin/zv" check --help | sed -n '/^Warnings/,$p' | sed -n 's/^  \([a-z-]*\):.*/\1/p'))
    [ "${#words[@]}" -gt 10 ] || die "too few words read from zv's help: ${words[*]}"
    for w in "${words[@]}"; do
        grep -qF -- "$w" <<<"$page" || die "zv(1) does not mention $w"
    done
    zcat "$PREFIX/share/man/man1/zvc.1.gz" | grep -q 'PARSER FAILURE' || die "zvc(1) lacks the splitter's exits"
    echo "manpages: ok"
}

step=$1
shift
"step_$step" "$@"

# Sourced by the scripts that configure a build folder ($root set): the compiler cache
# and the build tool.
# Compiler cache: paths relative to the tree, so a fresh clone hits what another built.
export CCACHE_BASEDIR=$root
# With debug information the cache hashes the working folder unless told not to: a
# clone in another folder would then miss every object another clone built.
export CCACHE_NOHASHDIR=1
# The precompiled headers: the cache may take them (their time stamps and the
# definitions they were made with are checked by the compiler).
export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Ninja where it is installed: the build spends a minute less than with make on two
# cores, most of it make's own work for each of the hundred programs (see
# doc/benchmarks.md). A folder configured before keeps the tool it was made with.
if [ -z "${CMAKE_GENERATOR:-}" ] && command -v ninja >/dev/null; then
  export CMAKE_GENERATOR=Ninja
fi

# Sourced by the build scripts. Where ccache is installed and no compiler launcher is chosen, the
# compilations of a new build folder go through it, so sources built before (in another folder, or
# before a clean) cost little; without ccache nothing changes. The precompiled headers need ccache
# to accept their defines and time macros.
if [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ] && command -v ccache >/dev/null 2>&1; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
    export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros}"
fi

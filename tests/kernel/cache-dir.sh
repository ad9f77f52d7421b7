# Sourced by ci-setup.sh and run-kernel-test.sh: where the kernel image and
# the two modules are kept, outside the source tree. XQ_KERNEL_CACHE wins.
xq_kernel_cache_dir() {
    if [ -n "${XQ_KERNEL_CACHE:-}" ]; then
        printf '%s\n' "$XQ_KERNEL_CACHE"
    elif [ -n "${XDG_CACHE_HOME:-}" ]; then
        printf '%s\n' "$XDG_CACHE_HOME/xq4620-kernel-test"
    elif [ -n "${HOME:-}" ] && [ "$HOME" != / ]; then
        printf '%s\n' "$HOME/.cache/xq4620-kernel-test"
    else
        printf '%s\n' "/var/tmp/xq4620-kernel-test"
    fi
}

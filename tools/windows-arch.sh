# Sourced by the scripts: which Windows build the tests, the demo and the benchmarks run under Wine.
# The shipped launcher is always the 32-bit build; where the kernel runs no 32-bit code at all
# (IA32 emulation off), neither does 32-bit Wine, and the same source runs as the 64-bit build
# under 64-bit Wine instead. KVO_WINDOWS_ARCH=i686|x86_64 overrides the choice.

# A whole 32-bit Linux program of 96 bytes: one ELF header, one loadable segment and three
# instructions (mov eax, 1; mov ebx, 42; int 0x80), so it ends with exit status 42 where the
# kernel runs 32-bit code and cannot be executed at all where it does not.
kvo_probe_elf32() {
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
  printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
  printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
  printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
}
readonly kvo_probe_exit_status=42

# True when this machine runs 32-bit x86 code: the probe program ran and said so.
kvo_runs_32bit_code() {
  local dir status
  # Beside the sources rather than in /tmp, which may be mounted without execution.
  dir=$(mktemp -d "${kvo_tools_dir:-.}/../.kvo-probe.XXXXXX" 2>/dev/null || mktemp -d)
  kvo_probe_elf32 >"$dir/probe32"
  chmod +x "$dir/probe32"
  ("$dir/probe32") 2>/dev/null
  status=$?
  rm -rf "$dir"
  [ "$status" -eq "$kvo_probe_exit_status" ]
}

# Sets and exports KVO_WINDOWS_ARCH (i686 or x86_64) and KVO_WINDOWS_ARCH_WHY; fails with a
# message that says what to do when the choice cannot work here.
kvo_choose_windows_arch() {
  case "${KVO_WINDOWS_ARCH:-}" in
    "")
      if kvo_runs_32bit_code; then
        KVO_WINDOWS_ARCH=i686 KVO_WINDOWS_ARCH_WHY="this machine runs 32-bit code"
      else
        KVO_WINDOWS_ARCH=x86_64 KVO_WINDOWS_ARCH_WHY="this kernel runs no 32-bit code"
      fi
      ;;
    i686)
      if ! kvo_runs_32bit_code; then
        echo "KVO_WINDOWS_ARCH=i686: this kernel cannot run 32-bit programs (IA32 emulation is off), so" \
             "32-bit Wine cannot run here. Unset KVO_WINDOWS_ARCH (or set it to x86_64) to run the 64-bit" \
             "Windows build under 64-bit Wine; the shipped 32-bit launcher is still built and checked." >&2
        return 1
      fi
      KVO_WINDOWS_ARCH_WHY="chosen with KVO_WINDOWS_ARCH"
      ;;
    x86_64) KVO_WINDOWS_ARCH_WHY="chosen with KVO_WINDOWS_ARCH" ;;
    *)
      echo "KVO_WINDOWS_ARCH must be i686 or x86_64, not '$KVO_WINDOWS_ARCH'" >&2
      return 1
      ;;
  esac
  export KVO_WINDOWS_ARCH KVO_WINDOWS_ARCH_WHY
}

# The configure preset and build folder name of the Windows build under test.
kvo_windows_preset() {
  if [ "$KVO_WINDOWS_ARCH" = x86_64 ]; then echo mingw64; else echo mingw; fi
}

# One line that says which build runs, and why.
kvo_windows_arch_line() {
  if [ "$KVO_WINDOWS_ARCH" = x86_64 ]; then
    echo "Windows build: 64-bit (x86_64) under 64-bit Wine ($KVO_WINDOWS_ARCH_WHY);" \
         "the shipped launcher is the 32-bit build"
  else
    echo "Windows build: 32-bit (i686) under 32-bit Wine ($KVO_WINDOWS_ARCH_WHY), the shipped launcher's own"
  fi
}

# Configures the Windows build tree $2 with preset $1 as the project's own scripts use it (the
# tests, the demo, the benchmarks): its KvoLauncher.exe trusts the test key of tests/keys, never
# a release's. Further arguments go to cmake.
kvo_configure_windows() {
  local preset=$1 dir=$2
  shift 2
  cmake --preset "$preset" -B "$dir" \
    -DKVO_UPDATE_PUBLIC_KEY="$(cat "$kvo_tools_dir/../tests/keys/update-test.public")" "$@" >/dev/null
}

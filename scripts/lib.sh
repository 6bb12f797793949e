# Shared by scripts/test and scripts/demo: packages, the build, a private Wine
# prefix, a private X server, the SMTP catcher. Everything started here is
# recorded and stopped by its own pid on exit.

KT_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The script's own command line, to run it again where no 32-bit program starts.
KT_SCRIPT=$(readlink -f "$0")
KT_SCRIPT_ARGS=("$@")
KT_STARTED_PIDS=()
KT_WINE_PREFIXES=()

kt_log() { printf '== [%ss] %s\n' "$SECONDS" "$*" >&2; }

# A command that fails ends the script (set -e); say which one.
set -E
trap 'kt_log "failed: $BASH_COMMAND (${BASH_SOURCE[0]##*/}:$LINENO)"' ERR

kt_sudo() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# kt_ensure_packages pkg...: installs the Debian packages that are missing;
# the package lists are refreshed only when something is missing. A package
# for i386 (name:i386) first adds that architecture to dpkg.
kt_ensure_packages() {
  local missing=() pkg
  if [[ " $* " == *:i386\ * ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    kt_sudo dpkg --add-architecture i386
  fi
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  kt_log "installing ${missing[*]}"
  if [[ " ${missing[*]} " == *" postfix "* ]]; then
    # For private test instances only: no system mail service.
    echo "postfix postfix/main_mailer_type select No configuration" | kt_sudo debconf-set-selections
  fi
  kt_sudo apt-get update -qq
  kt_sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

KT_BUILD_PACKAGES=(cmake make g++ googletest libgtest-dev g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools libwine-dev
                   clang libclang-rt-14-dev wixl msitools fp-utils-3.2.2 nlohmann-json3-dev libidn2-dev libssl-dev
                   osslsigncode)
KT_RUN_PACKAGES=(wine wine64 wine32:i386 xvfb xauth xdotool x11-utils imagemagick chromium python3 python3-aiosmtpd openssl
                 locales sasl2-bin libsasl2-modules spamassassin dovecot-imapd)
# Postfix for the tests' private instances, unless another mail server is
# installed: installing Postfix would replace it (its tests are then skipped).
if [ ! -e /usr/sbin/sendmail ] || dpkg -S /usr/sbin/sendmail 2>/dev/null | grep -q '^postfix:'; then
  KT_RUN_PACKAGES+=(postfix)
fi

# Extra configure arguments (scripts/test makes warnings errors).
KT_CONFIGURE_ARGS=()

# kt_configure preset...: configures each preset, with KT_CONFIGURE_ARGS.
kt_configure() {
  local preset
  for preset in "$@"; do
    cmake --preset "$preset" -S "$KT_ROOT" "${KT_CONFIGURE_ARGS[@]}" >/dev/null
  done
}

# kt_build preset...: configures and builds each preset; a failed build is
# repeated on one core so that its errors are the last thing printed.
kt_build() {
  local preset
  for preset in "$@"; do
    kt_configure "$preset"
    cmake --build "$KT_ROOT/build/$preset" -j"$(nproc)" >/dev/null || cmake --build "$KT_ROOT/build/$preset"
  done
}

# kt_build_packages [target...]: the installers (target "packages", in
# build/windows/packages) and any further targets of the x64 build; the x64
# package takes the 32-bit DLL from the windows-x86 build. With a
# code-signing certificate (KT_SIGN_PFX, its password in the file named by
# KT_SIGN_PASSWORD_FILE, KT_SIGN_TIMESTAMP_URL for an RFC 3161 time stamp)
# the DLLs are signed before they are packaged, and the packages; without
# one, one line says that nothing is signed.
kt_build_packages() {
  local saved=("${KT_CONFIGURE_ARGS[@]}")
  KT_CONFIGURE_ARGS+=(-DKT_SIGN_PFX="${KT_SIGN_PFX:-}" -DKT_SIGN_PASSWORD_FILE="${KT_SIGN_PASSWORD_FILE:-}"
                      -DKT_SIGN_TIMESTAMP_URL="${KT_SIGN_TIMESTAMP_URL:-}" -DKT_SIGN_TEST_ROOT="${KT_SIGN_TEST_ROOT:-}")
  [ -n "${KT_SIGN_PFX:-}" ] || kt_log "no code-signing certificate (KT_SIGN_PFX): the DLLs and packages are not signed"
  kt_configure windows-x86 windows
  KT_CONFIGURE_ARGS=("${saved[@]}")
  cmake --build "$KT_ROOT/build/windows-x86" --target KT_EMailer -j"$(nproc)" >/dev/null
  cmake --build "$KT_ROOT/build/windows" --target packages "$@" >/dev/null
}

# kt_test_signing_certificate dir: a code-signing certificate for the tests,
# issued by a root of their own (dir/root.pem), made anew; exports
# KT_SIGN_PFX, KT_SIGN_PASSWORD_FILE and KT_SIGN_TEST_ROOT.
kt_test_signing_certificate() {
  local dir=$1
  rm -rf "$dir" && mkdir -p "$dir"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/root.key" -out "$dir/root.pem" -days 30 \
    -subj "/CN=KT_EMailer Test Code Signing Root" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -keyout "$dir/signer.key" -out "$dir/signer.csr" \
    -subj "/O=Veltrano/CN=Veltrano (test)" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > "$dir/signer.ext"
  openssl x509 -req -in "$dir/signer.csr" -CA "$dir/root.pem" -CAkey "$dir/root.key" -set_serial "0x$(openssl rand -hex 8)" \
    -days 30 -extfile "$dir/signer.ext" -out "$dir/signer.pem" 2>/dev/null
  openssl rand -hex 16 > "$dir/password"
  openssl pkcs12 -export -inkey "$dir/signer.key" -in "$dir/signer.pem" -certfile "$dir/root.pem" \
    -passout file:"$dir/password" -out "$dir/signer.pfx"
  rm -f "$dir/root.key" "$dir/signer.key"
  export KT_SIGN_PFX="$dir/signer.pfx" KT_SIGN_PASSWORD_FILE="$dir/password" KT_SIGN_TEST_ROOT="$dir/root.pem"
}

kt_cleanup() {
  local pid prefix
  for prefix in "${KT_WINE_PREFIXES[@]}"; do
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  done
  for pid in "${KT_STARTED_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${KT_STARTED_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  for prefix in "${KT_WINE_PREFIXES[@]}"; do
    rm -rf "$prefix"
  done
}

# kt_start_xvfb: a private X server on a display it chooses itself; exports DISPLAY.
kt_start_xvfb() {
  local fdfile
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" 2>/dev/null &
  KT_STARTED_PIDS+=($!)
  local i
  for i in $(seq 100); do
    [ -s "$fdfile" ] && break
    sleep 0.1
  done
  [ -s "$fdfile" ] || { kt_log "Xvfb did not start"; return 1; }
  export DISPLAY=":$(head -n1 "$fdfile")"
  rm -f "$fdfile"
}

# kt_new_wine_prefix dir: a fresh 64-bit prefix with no Mono or Gecko prompts
# and unmanaged windows (no window manager runs on Xvfb); keeps a wineserver
# alive so that each program starts fast. Exports WINEPREFIX.
kt_new_wine_prefix() {
  export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
  KT_WINE_PREFIXES+=("$WINEPREFIX")
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  # With 32-bit programs hidden, the prefix must be one of a machine that runs
  # none: no C:\windows\command, and no 32-bit system programs in syswow64
  # (whose folder the 64-bit half makes empty).
  if [ "${KT_32BIT_HIDDEN:-0}" = 1 ] && { [ -e "$WINEPREFIX/drive_c/windows/command" ] ||
       [ -n "$(ls -A "$WINEPREFIX/drive_c/windows/syswow64" 2>/dev/null)" ]; }; then
    kt_log "32-bit programs were not hidden: the new prefix $WINEPREFIX has 32-bit programs"
    return 1
  fi
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # A crashing program ends at once instead of waiting in the debugger.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  # Wine's own mail program hands mail to the desktop's: a message handed to
  # "the user's mail program" must never leave the prefix.
  local view
  for view in 32 64; do
    wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f /reg:$view >/dev/null 2>&1 || true
    wine reg delete 'HKLM\Software\Clients\Mail' /ve /f /reg:$view >/dev/null 2>&1 || true
  done
  # Let the first start settle completely (a second service manager started
  # while the first is still busy makes every COM program wait 20 s), then
  # keep one server alive so that each program starts fast.
  wineserver -w
  wineserver -p
}

# kt_keep_wine_warm: Wine's desktop and COM service processes end a moment
# after the last program, and one started by a test program holds CTest's
# output pipe until then (a second and more per test). A minimized program
# that stays, started here with no pipes of anyone's, keeps them running.
kt_keep_wine_warm() {
  wine start /min notepad.exe </dev/null >/dev/null 2>&1
}

# With 32-bit Wine installed, "wine" starts Wine's own programs (regsvr32,
# cscript, reg) as 32-bit ones; this loader starts their 64-bit versions.
KT_WINE64=/usr/lib/wine/wine64

# kt_find_32bit_support what_is_skipped: finds out once whether this machine
# runs 32-bit programs at all; on some machines of this kind the kernel runs
# none ("Exec format error"), and Debian's "wine" launcher still picks the
# 32-bit loader for every program, 64-bit ones included. Where none runs,
# every Wine program starts through the 64-bit loader (scripts/wine64-only
# goes first on PATH), KT_NO_32BIT=1 tells the tests, and one line says what
# is skipped. KT_NO_32BIT=1 makes any machine such a machine for the run (see
# kt_hide_32bit).
kt_find_32bit_support() {
  if ! kt_runs_32bit && [ -z "${KT_32BIT_HIDDEN:-}" ]; then
    kt_hide_32bit
  fi
  # Without 32-bit Wine there is nothing to start (a build needs none).
  if [ -e /usr/lib/wine/wine ] || ! kt_runs_32bit; then
    local status=0
    /usr/lib/wine/wine --version >/dev/null 2>&1 || status=$?
    if [ "$status" -eq 0 ]; then
      kt_runs_32bit && return 0
      kt_log "32-bit programs still run where they were to be hidden"
      return 1
    fi
    # 126 is the kernel refusing the program; anything else is a broken Wine, not this machine.
    if [ "$status" -ne 126 ] && [ -e /usr/lib/wine/wine ]; then
      kt_log "Wine's 32-bit loader fails (exit $status)"
      return 1
    fi
  else
    return 0
  fi
  export KT_NO_32BIT=1 PATH="$KT_ROOT/scripts/wine64-only:$PATH"
  kt_log "32-bit programs cannot run on this machine: $1"
}

# kt_hide_32bit: runs this script again, from the start, where no 32-bit
# program can start, as on a machine whose kernel runs none: in a mount
# namespace of its own, with the 32-bit loader covered by a file that cannot
# run. Wine then makes its prefixes exactly as it does there (no syswow64, no
# C:\windows\command). Where no such namespace can be made, the run fails:
# running 32-bit programs through the 64-bit loader alone would only imitate
# such a machine.
kt_hide_32bit() {
  local loader unshare=(unshare --mount)
  [ "$(id -u)" -eq 0 ] || unshare+=(--map-root-user)
  loader=$(readlink -f /lib/ld-linux.so.2 2>/dev/null || true)
  [ -e "$loader" ] || return 0  # no 32-bit loader: nothing can start anyway
  if ! "${unshare[@]}" -- mount --bind /dev/null "$loader" 2>/dev/null; then
    kt_log "KT_NO_32BIT=1 needs a mount namespace of its own (${unshare[*]}), and none can be made here"
    exit 1
  fi
  kt_log "hiding 32-bit programs: running again in a mount namespace with $loader covered"
  exec env KT_32BIT_HIDDEN=1 "${unshare[@]}" -- /bin/bash -c 'mount --bind /dev/null "$1" && shift && exec "$@"' \
    kt-hide-32bit "$loader" "$KT_SCRIPT" "${KT_SCRIPT_ARGS[@]}"
}

kt_runs_32bit() { [ "${KT_NO_32BIT:-0}" = 0 ]; }

# kt_require_node: the OAuth tests' authorization server (oidc-provider) needs
# Node.js 20 or later, which the machine image brings (Debian's own is 18).
kt_require_node() {
  local major
  major=$(node --version 2>/dev/null | sed -n 's/^v\([0-9]*\).*/\1/p')
  if [ -z "$major" ] || [ "$major" -lt 20 ] || ! command -v npm >/dev/null; then
    kt_log "Node.js 20 or later with npm is needed (found: $(node --version 2>/dev/null || echo none))"
    return 1
  fi
}

# kt_register_dll path [x86]: registers the component in the current prefix
# with the regsvr32 of its architecture (x64 unless told x86); what regsvr32
# says stays in the log.
kt_register_dll() {
  local loader=$KT_WINE64
  [ "${2:-}" = x86 ] && loader=wine
  kt_log "regsvr32 ${2:-x64} $1"
  "$loader" regsvr32 /s "$(winepath -w "$1")" 2>&1 | sed 's/^/  regsvr32: /' >&2
  return "${PIPESTATUS[0]}"
}

# kt_wait_for_window title: prints the X id of the visible window with that
# title once it is there (waits up to 30 s).
kt_wait_for_window() {
  local id i
  for i in $(seq 300); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true)
    if [ -n "$id" ]; then
      sleep 0.3  # let it paint
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  kt_log "no window \"$1\" appeared"
  return 1
}

# kt_postfix_tools: Postfix's smtp-sink and smtp-source, unpacked from its
# Debian package into the build folder (nothing is installed or started);
# prints the folder.
kt_postfix_tools() {
  local dir="$KT_ROOT/build/bench/postfix"
  if [ ! -x "$dir/usr/sbin/smtp-sink" ]; then
    mkdir -p "$KT_ROOT/build/bench"
    (cd "$KT_ROOT/build/bench" && rm -f postfix_*.deb &&
      { apt-get download postfix >/dev/null 2>&1 || { kt_sudo apt-get update -qq && apt-get download postfix >/dev/null 2>&1; }; })
    dpkg -x "$KT_ROOT"/build/bench/postfix_*.deb "$dir"
  fi
  echo "$dir"
}

KT_CATCHER="$KT_ROOT/tools/smtp_catcher/smtp_catcher.py"

# kt_start_smtp_catcher dir [options...]: a local SMTP catcher (options: TLS
# and sign-in, see tools/smtp_catcher); exports KT_SMTP_PORT.
kt_start_smtp_catcher() {
  /usr/bin/python3 "$KT_CATCHER" start --state-dir "$@" >/dev/null
  KT_STARTED_PIDS+=("$(cat "$1/pid")")
  export KT_SMTP_PORT
  KT_SMTP_PORT=$(cat "$1/port")
}

# kt_show_caught_mail dir: prints what the catcher received; fails if nothing.
kt_show_caught_mail() {
  /usr/bin/python3 "$KT_CATCHER" show --state-dir "$1"
}

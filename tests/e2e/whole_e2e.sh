#!/usr/bin/env bash
# The whole assistant end to end under Wine: wayfarer-cli.exe against the fake
# bank server, on a fresh prefix made wrong in known ways.
#   whole_e2e.sh WINE_RUN CLI_EXE FAKE_SETUP_EXE WORK_DIR HAVE_CERTIFICATES(0|1)
#                [TRANSCRIPT_DIR [APP_DIR...]]
# The served document asks for: three registry values of a test key (one of
# each type the registry check knows) and the compatibility list, no pinning
# hosts lines for the bank's names, DNS and service answers from this machine
# (localhost and the fake server, so that both can pass here), and a control
# whose installer the server offers. The prefix has the registry values, the
# hosts file and the control wrong, the home-page and registry-tools policies
# set and no CFCA chain. /check finds
# them, /fix repairs them and installs the control, and a second /check finds
# everything in order but for what Wine cannot do (named where it is decided).
# Then the configuration's other sources: the local copy the served runs left
# in the current directory, and the built-in document.
# The /check and /fix transcripts (/json) go to TRANSCRIPT_DIR for the page
# tests to replay. Measurements (not asserted) are printed at the end; the
# sizes are those of wayfarer.exe and wayfarer-cli.exe in the first APP_DIR
# that has them.
set -u
run=$1 cli_exe=$2 fake_setup=$3 have_certificates=${5:-0} transcripts=${6:-}
app_dirs=("${@:7}")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=bank_server.sh
source "$here/bank_server.sh"
e2e_begin "$4" 580
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
if [ -n "$transcripts" ]; then
    mkdir -p "$transcripts"
    rm -f "$transcripts/whole-check.jsonl" "$transcripts/whole-fix.jsonl"  # never an older run's
fi

download="perbank/download/812"
mkdir -p "$work/www/$download" "$work/cli"
config_url="https://localhost:$port/$download/item.xml"
# Nothing listens on port 1 of loopback: the server is down.
offline_url="https://localhost:1/$download/item.xml"
control_class="{5F0D7C1E-7A54-4C1B-9E43-3A1D2B6E8F11}"
installer_path="/$download/LunmarSafeInput.exe"
test_key='HKCU\Software\WayfarerTest\Whole'

reg() { "$run" reg "$@" </dev/null >/dev/null 2>&1; }

# ---- the run: rc, wall time (ms) and the peak resident set of the process
# tree (Linux's view of the Wine process: Wine's own modules included) ----
cli() {  # name, config url, args...: $work/name.{out,err,rc,ms,rss}
    local name=$1 url=$2
    shift 2
    (cd "$work/cli" && WAYFARER_TEST_CONFIG_URL=$url python3 - "$work/$name" "$run" "$cli_exe" "$@" <<'PY'
import resource, subprocess, sys, time
base, command = sys.argv[1], sys.argv[2:]
with open(base + ".raw", "wb") as out, open(base + ".err", "wb") as err:
    start = time.monotonic()
    rc = subprocess.call(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
    ms = round((time.monotonic() - start) * 1000)
for suffix, value in (("rc", rc), ("ms", ms), ("rss", resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)):
    with open(base + "." + suffix, "w") as f:
        f.write(f"{value}\n")
PY
    )
    tr -d '\r' <"$work/$name.raw" >"$work/$name.out"  # console lines end in CR LF
    # /json: the console's words of each line beside it, for the same tables.
    if grep -q '^{' "$work/$name.out"; then
        python3 - "$work/$name.out" >"$work/$name.txt" <<'PY' || fail "$name: the output is not JSON lines"
import json, sys
sources = {"server": "银行服务器", "local copy": "本地副本", "built-in": "内置默认配置", "file": "指定文件"}
for raw in open(sys.argv[1], encoding="utf-8"):
    if not raw.strip():
        continue
    line = json.loads(raw)
    if "configuration" in line:
        print("配置文件：" + sources.get(line["configuration"], line["configuration"]))
    elif "text" in line:
        print(line["text"])
PY
    else
        cp "$work/$name.out" "$work/$name.txt"
    fi
}
rc() { cat "$work/$1.rc"; }
last_line() {  # name, label: the last "label：..." line of the run
    grep "^$2：" "$work/$1.txt" | tail -n 1
}
expect_line() {  # name, exact line
    grep -qxF -- "$2" "$work/$1.txt" || fail "$1: no line '$2' (output in $work/$1.out)"
}
no_line() {  # name, exact line
    grep -qxF -- "$2" "$work/$1.txt" && fail "$1: the line '$2' is there (output in $work/$1.out)"
}
downloads() { grep -cxF "GET $installer_path" "$work/requests.log"; }

# ---- the prefix, made wrong ----
"$run" cmd /c exit </dev/null >/dev/null 2>&1  # makes the prefix
drive_c="$WAYFARER_WINEPREFIX/drive_c"
hosts_file="$drive_c/windows/system32/drivers/etc/hosts"
[ -f "$hosts_file" ] || fail "the prefix has no hosts file at $hosts_file"

# The test CA trusted as CertAddEncodedCertificateToStore leaves it in the
# user's ROOT store: a serialized element (property 32, the encoded
# certificate) under the certificate's SHA-1 thumbprint.
thumbprint=$(openssl x509 -in "$work/certs/ca.pem" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
blob=$(python3 -c 'import struct, sys; d = open(sys.argv[1], "rb").read(); print((struct.pack("<III", 32, 1, len(d)) + d).hex().upper())' \
    "$work/certs/ca.der")
reg add "HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumbprint" /v Blob /t REG_BINARY \
    /d "$blob" /f || fail "could not make the test CA trusted"

# The hosts file: one line pinning the bank's web host (upper case, blanks
# and a comment: still a pinning line), among lines that must stay as they
# are, each for its own reason.
hosts_kept=(
    "127.0.0.1 localhost"
    "# 127.0.0.1 www.lunmarbank.example"             # commented out
    "127.0.0.1 mywww.lunmarbank.example"             # another name ending in it
    "127.0.0.1 www.lunmarbank.example.cn"            # a longer name
    "127.0.0.1 www.lunmarbank.example alias.example" # a second name on the line
    $'10.0.0.5\tintranet.example   # office\t'     # tabs and blanks kept as they are
)
hosts_pin="  1.2.3.4   WWW.LunmarBank.Example   # pinned"
{
    printf '%s\r\n' "${hosts_kept[@]:0:3}"
    printf '%s\r\n' "$hosts_pin"
    printf '%s\r\n' "${hosts_kept[@]:3}"
} >"$hosts_file"
cp "$hosts_file" "$work/hosts.before"

# Registry values of the document, each wrong: a DWORD whose masked bit is
# clear (the bits outside the mask must survive the repair), a string and
# binary bytes that differ in their first byte.
reg add "$test_key" /v Flags /t REG_DWORD /d 16 /f || fail "could not write $test_key\\Flags"
reg add "$test_key" /v Mode /t REG_SZ /d wrong /f || fail "could not write $test_key\\Mode"
reg add "$test_key" /v Bytes /t REG_BINARY /d FF0B0C0D /f || fail "could not write $test_key\\Bytes"
home_policy='HKCU\Software\Policies\Microsoft\Internet Explorer\Control Panel'
tools_policy='HKCU\SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\System'
reg add "$home_policy" /v Homepage /t REG_DWORD /d 1 /f || fail "could not set the home-page policy"
reg add "$tools_policy" /v Disableregistrytools /t REG_DWORD /d 1 /f || fail "could not set the registry-tools policy"

# The installer writes the control's file here.
mkdir -p "$drive_c/wfwhole"
control_dll='C:\wfwhole\ctl.dll'

# ---- the served document and the installer ----
cp "$fake_setup" "$work/www$installer_path" || fail "could not serve the fake installer"
printf 'logon page\n' >"$work/www/perbank/logon.html"
cat >"$work/www/$download/item.xml" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<checkitems>
  <config type="registry">
    <entry name="Flags" type="reg_dword" value="1" mask="1">HKEY_CURRENT_USER\\Software\\WayfarerTest\\Whole</entry>
    <entry name="Mode" type="reg_sz" value="网银模式">HKEY_CURRENT_USER\\Software\\WayfarerTest\\Whole</entry>
    <entry name="Bytes" type="reg_binary" value="0A0B0C0D">HKEY_CURRENT_USER\\Software\\WayfarerTest\\Whole</entry>
  </config>
  <config type="compatibility">
    <entry>lunmarbank.example</entry>
  </config>
  <config type="host">
    <entry>www.lunmarbank.example</entry>
    <entry>ebank.lunmarbank.example</entry>
  </config>
  <config type="dns">
    <entry name="本机线路" ip="127.0.0.1">localhost</entry>
  </config>
  <config type="service">
    <entry>https://localhost:$port/perbank/logon.html</entry>
  </config>
  <item name="密码安全控件" type="SafeActiveX" tips="保护网上银行登录密码和交易密码的输入安全">
    <detect type="clsid">$control_class</detect>
    <installer command='"%1" /register $control_class "$control_dll"'>https://localhost:$port$installer_path</installer>
  </item>
</checkitems>
EOF

# ---- what Wine cannot do here ----
# Without the CFCA certificates in this build there is nothing to install:
# the certificate repair fails honestly.
certificates_fixed=不正常 environment_bit=1
[ "$have_certificates" = 1 ] && certificates_fixed=正常 environment_bit=0
# Windows shows the user's classes (HKCU\Software\Classes, where the
# installer registers the control) in HKEY_CLASSES_ROOT, where detection
# looks; Wine 8 shows only the machine's. A probe class tells which.
probe_class="{5F0D7C1E-7A54-4C1B-9E43-3A1D2B6E8F1F}"
reg add "HKCU\\Software\\Classes\\CLSID\\$probe_class" /ve /d probe /f
classes_merged=0
reg query "HKCR\\CLSID\\$probe_class" /ve && classes_merged=1
reg delete "HKCU\\Software\\Classes\\CLSID\\$probe_class" /f
control_fixed=未安装 component_bit=2
[ "$classes_merged" = 1 ] && control_fixed=已安装最新版本 component_bit=0
[ "$classes_merged" = 1 ] ||
    echo "note: HKEY_CLASSES_ROOT does not show HKCU\\Software\\Classes here: the installed control stays" \
        "undetected until its class is registered for the machine too"
[ "$have_certificates" = 1 ] || echo "note: this build carries no CFCA certificates: their repair cannot succeed"
repaired_rc=$((environment_bit | component_bit))

# ---- /check, /fix, /check on the served document ----
cli check "$config_url" /check /json
check_downloads=$(downloads)
cli fix "$config_url" /fix /json
fix_downloads=$(downloads)
cli again "$config_url" /check
if [ -n "$transcripts" ]; then
    cp "$work/check.out" "$transcripts/whole-check.jsonl" || fail "could not keep the /check transcript"
    cp "$work/fix.out" "$transcripts/whole-fix.jsonl" || fail "could not keep the /fix transcript"
fi

expect_line check "配置文件：银行服务器"
grep -qxF "配置文件：银行服务器" "$work/check.txt" ||
    echo "  (the served document was not taken: is the test CA trusted? $work/server.out, $work/requests.log)"
# label | after /check | after /fix | on the second /check
cases=(
    "注册表|不正常|正常|正常"
    "Host文件|不正常|正常|正常"
    "CFCA根证书|不正常|$certificates_fixed|$certificates_fixed"
    "网络连接|正常|正常|正常"
    "DNS解析|正常（本机线路）|正常（本机线路）|正常（本机线路）"
    "网银服务|正常|正常|正常"
    "主页设置|不正常|正常|正常"
    "IE安全级别|正常|正常|正常"
    "网银可信站点加入|正常|正常|正常"
    "密码安全控件|未安装|$control_fixed|$control_fixed"
)
for case in "${cases[@]}"; do
    IFS='|' read -r label at_check at_fix at_again <<<"$case"
    for run_expected in "check $at_check" "fix $at_fix" "again $at_again"; do
        read -r name expected <<<"$run_expected"
        actual=$(last_line "$name" "$label")
        [ "$actual" = "$label：$expected" ] ||
            fail "$name: the last $label line is '$actual', expected '$label：$expected'"
    done
done
# exit code | run
for expected_run in "3 check" "$repaired_rc fix" "$repaired_rc again"; do
    read -r expected name <<<"$expected_run"
    [ "$(rc "$name")" = "$expected" ] || fail "$name: exit code $(rc "$name"), expected $expected"
    grep -q "is not available yet" "$work/$name.err" && fail "$name: an operation is said to be missing"
done
expect_line again "配置文件：银行服务器"
# A download asks twice (the request is sent again on the opened handle).
[ "$check_downloads" = 0 ] || fail "check: /check asked for the installer $check_downloads time(s)"
[ "$fix_downloads" -gt 0 ] || fail "fix: the server log shows no request for $installer_path"
[ "$(downloads)" = "$fix_downloads" ] || fail "again: /check asked for the installer"
for name in check fix again; do
    no_line "$name" "下载发生错误：下载配置文件失败，请确认你的电脑能够访问银行网站"
done

# The transcripts, call by call.
python3 - "$work/check.out" "$work/fix.out" "$control_fixed" "$certificates_fixed" "$repaired_rc" <<'PY' ||
import json, sys
check_path, fix_path, control_fixed, certificates_fixed, repaired_rc = sys.argv[1:]
def load(path):
    return [json.loads(l) for l in open(path, encoding="utf-8") if l.strip()]
def calls(lines, category, item):
    return [l["args"][2] for l in lines if l.get("function") == "setState" and l["args"][:2] == [category, item]]
failures = []
def expect(ok, what):
    if not ok:
        failures.append(what)

check = load(check_path)
expect(calls(check, 0, 2) == [1000, 1002, 1003, 1004, 1005, 1006, 1007, 1013, 1009, 1010, 1011, 1999],
       f"check.out: status codes {calls(check, 0, 2)}")
expect(calls(check, 0, 3)[-1:] == [3], f"check.out: verdicts {calls(check, 0, 3)}")
expect([l for l in check if "configuration" in l] == [{"configuration": "server"}], "check.out: not one source, the server")
expect(not any("prompt" in l or "notice" in l for l in check), "check.out: a message box was shown")

fix = load(fix_path)
status = calls(fix, 0, 2)
sequence_end = status.index(1999) if 1999 in status else -1
repairs = [s for s in status[sequence_end + 1:] if 2000 <= s < 2999]
# Only the items found out of order, in the one-click setup's order: hosts
# file, certificates, home page, registry.
expect(repairs == [2003, 2004, 2009, 2002], f"fix.out: repairs {repairs}")
expect(2999 in status[sequence_end + 1:], "fix.out: no 设置完毕 after the repairs")
setup_end = sequence_end + 1 + status[sequence_end + 1:].index(2999) if 2999 in status[sequence_end + 1:] else len(status)
# The installer after the repairs: downloading, installing, and done last.
install = status[setup_end + 1:]
expect(install[:2] == [2, 3] and install[-1:] == [1], f"fix.out: install status codes {install}")
expect(all(p == 100 for p in calls(fix, 0, 1)[-1:]), f"fix.out: download progress {calls(fix, 0, 1)}")
rows = calls(fix, 2, 1)
expect(rows and rows[0] != 0, f"fix.out: control rows {rows}")
expect((rows[-1] == 0) == (control_fixed == "已安装最新版本"), f"fix.out: the last control row {rows[-1:]}, expected {control_fixed}")
expect(calls(fix, 0, 3)[-1:] == [int(repaired_rc)], f"fix.out: verdicts {calls(fix, 0, 3)}")
expect((calls(fix, 1, 4)[-1:] == [0]) == (certificates_fixed == "正常"), f"fix.out: certificates {calls(fix, 1, 4)}")
expect(not any("prompt" in l for l in fix), "fix.out: a prompt was shown (a failed download or start?)")
expect([l for l in fix if "configuration" in l] == [{"configuration": "server"}], "fix.out: not one source, the server")
for f in failures:
    print("FAIL: " + f)
sys.exit(1 if failures else 0)
PY
    fail "the transcripts do not show the sequence, the repairs and the installation (above)"

# ---- what the repairs left ----
# The hosts file: the pinning line gone, every other line byte for byte as
# it was (the rewrite may add blank lines at its ends).
grep -qi "lunmarbank.example *# pinned" "$hosts_file" && fail "hosts: the pinning line is still in $hosts_file"
diff <(grep -av $'^\r\\?$' "$hosts_file") <(grep -avF "$hosts_pin" "$work/hosts.before" | grep -av $'^\r\\?$') \
    >"$work/hosts.diff" || fail "hosts: lines other than the pinning one changed (see $work/hosts.diff)"
[ "$(tail -c 2 "$hosts_file" | od -An -c | tr -d ' ')" = '\r\n' ] || fail "hosts: the file does not end in CR LF"

# The registry as the repairs left it, read back through reg export.
reg export "$test_key" "$(winpath "$work/values.reg")" /y || fail "could not export $test_key"
reg export 'HKCU\Software\Microsoft\Internet Explorer\BrowserEmulation\ClearableListData' \
    "$(winpath "$work/list.reg")" /y || fail "could not export the compatibility list"
python3 - "$work/values.reg" "$work/list.reg" <<'PY' || fail "the registry values are not what the document asks (above)"
import re, sys
def values(path):
    text = open(path, "rb").read().decode("utf-16").replace("\\\r\n", "").replace("\\\n", "")
    out = {}
    for line in text.splitlines():
        m = re.match(r'^"([^"]*)"=(.*)$', line.strip())
        if m:
            out[m.group(1)] = m.group(2).replace(" ", "")
    return out
failures = []
v = values(sys.argv[1])
# (what, value name, as exported)
for what, name, expected in (
    ("a DWORD whose bits outside the mask stay", "Flags", "dword:00000011"),
    ("a string", "Mode", '"网银模式"'),
    ("binary bytes", "Bytes", "hex:0a,0b,0c,0d"),
):
    if v.get(name, "").lower() != expected.lower():
        failures.append(f"{name} ({what}) is {v.get(name)!r}, expected {expected}")
listing = values(sys.argv[2]).get("UserFilter", "")
data = bytes(int(b, 16) for b in listing.split(":", 1)[-1].split(",") if b) if listing.startswith("hex:") else b""
if "lunmarbank.example".encode("utf-16-le") not in data:
    failures.append(f"the compatibility list does not name lunmarbank.example: {listing!r}")
for f in failures:
    print("FAIL: " + f)
sys.exit(1 if failures else 0)
PY
# policy | key | value: each deleted by the repair
for case in "home page|$home_policy|Homepage" "registry tools|$tools_policy|Disableregistrytools"; do
    IFS='|' read -r what key value <<<"$case"
    reg query "$key" /v "$value" && fail "the $what policy $key\\$value is still there"
done
# The installer ran with the document's command line: the control's file and
# its class under the user's classes.
[ -f "$drive_c/wfwhole/ctl.dll" ] || fail "fix: the installer did not write $control_dll"
"$run" reg query "HKCU\\Software\\Classes\\CLSID\\$control_class\\InprocServer32" /ve </dev/null 2>/dev/null |
    tr -d '\r' | grep -qiF "$control_dll" || fail "fix: $control_class is not registered with $control_dll"

# Registered for the machine too, as Windows would show the user's class:
# detection finds the control and nothing is left out of order but the
# certificates of a build without them.
if [ "$classes_merged" = 0 ]; then
    reg add "HKLM\\Software\\Classes\\CLSID\\$control_class\\InprocServer32" /ve /d "$control_dll" /f ||
        fail "could not register $control_class for the machine"
    cli detected "$config_url" /check
    expect_line detected "密码安全控件：已安装最新版本"
    [ "$(rc detected)" = "$environment_bit" ] ||
        fail "detected: exit code $(rc detected), expected $environment_bit"
fi

# The registry step stops at its first wrong part, so the first /check saw
# only the compatibility list: the registry-tools policy alone, set again on
# the repaired registry, must fail the step too.
reg add "$tools_policy" /v Disableregistrytools /t REG_DWORD /d 1 /f || fail "could not set the registry-tools policy again"
cli policy "$config_url" /check
[ "$(last_line policy 注册表)" = "注册表：不正常" ] ||
    fail "policy: the registry-tools policy alone gives '$(last_line policy 注册表)', expected '注册表：不正常'"
[ "$(rc policy)" = 1 ] || fail "policy: exit code $(rc policy), expected 1 (the control is detected by now)"
reg delete "$tools_policy" /v Disableregistrytools /f || fail "could not clear the registry-tools policy"

# ---- the configuration's sources ----
# The served runs left their copy of the document in the current directory.
[ -f "$work/cli/item.xml" ] || fail "no local copy in the checker's current directory"
grep -q checkitems "$work/cli/item.xml" 2>/dev/null && fail "the local copy is not scrambled"
final_rc=$environment_bit  # the control was detected after its registration
final_control=已安装最新版本
notice="下载发生错误：下载配置文件失败，请确认你的电脑能够访问银行网站"
# name | notice shown | source | exit code | registry line | control line
# The built-in document asks for the bank's own registry values and controls,
# which this prefix does not have.
source_cases=(
    "local_copy|yes|本地副本|$final_rc|注册表：正常|密码安全控件：$final_control"
    "built_in|yes|内置默认配置|3|注册表：不正常|密码安全控件：未安装"
)
for case in "${source_cases[@]}"; do
    IFS='|' read -r name shown source code registry control <<<"$case"
    [ "$name" = built_in ] && rm -f "$work/cli/item.xml"
    cli "$name" "$offline_url" /check
    expect_line "$name" "配置文件：$source"
    if [ "$shown" = yes ]; then expect_line "$name" "$notice"; else no_line "$name" "$notice"; fi
    [ "$(rc "$name")" = "$code" ] || fail "$name: exit code $(rc "$name"), expected $code"
    [ "$(last_line "$name" 注册表)" = "$registry" ] ||
        fail "$name: the last registry line is '$(last_line "$name" 注册表)', expected '$registry'"
    [ "$(last_line "$name" 密码安全控件)" = "$control" ] ||
        fail "$name: the last control line is '$(last_line "$name" 密码安全控件)', expected '$control'"
    expect_line "$name" "进度 100%"
done
[ -f "$work/cli/item.xml" ] && fail "built_in: a local copy was written from the built-in document"
grep -v "^GET " "$work/requests.log" | grep -q . && fail "the server saw a request other than GET"

# ---- measurements (printed, not asserted) ----
echo "measurements:"
for name in built_in local_copy check fix again; do
    [ -f "$work/$name.ms" ] || continue
    printf '  %-10s wall %6s ms, peak resident set of the Wine process tree %6s KiB\n' \
        "$name" "$(cat "$work/$name.ms")" "$(cat "$work/$name.rss")"
done
echo "  (built_in and local_copy: offline /check, the configuration address on a closed port)"
for dir in "${app_dirs[@]}"; do
    [ -f "$dir/wayfarer.exe" ] || [ -f "$dir/wayfarer-cli.exe" ] || continue
    for exe in wayfarer.exe wayfarer-cli.exe; do
        [ -f "$dir/$exe" ] && printf '  %-17s %9s bytes (%s)\n' "$exe" "$(stat -c %s "$dir/$exe")" "$dir"
    done
    break
done

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s); outputs in $work"
    exit 1
fi
echo "the whole assistant end to end: all passed"

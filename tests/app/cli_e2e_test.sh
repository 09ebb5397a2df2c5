#!/usr/bin/env bash
# wayfarer-cli.exe end to end under Wine, on the built-in default document and
# on small documents of our own. A check that did not run is never "正常". On
# this machine the bank's names do not resolve, its service cannot be reached
# and Wine cannot add a trusted site, so those three checks fail on the
# built-in document.
# Repairs write the registry and the hosts file, and a second run would find
# them made: every run has a fresh Wine prefix of its own, removed at the end.
# The /json transcripts of /check and /fix go to TRANSCRIPT_DIR when given, for
# the page tests to replay into the page.
#   cli_e2e_test.sh WINE_RUN CLI_EXE WORK_DIR HAVE_CERTIFICATES(0|1) [TRANSCRIPT_DIR]
set -u
run=$1 cli=$2 work=$3 have_certificates=${4:-0} transcripts=${5:-}
mkdir -p "$work"
if [ -n "$transcripts" ]; then
    mkdir -p "$transcripts"
    rm -f "$transcripts/check.jsonl" "$transcripts/fix.jsonl"  # never an older run's
fi
keep_transcript() {  # name, file name
    [ -z "$transcripts" ] || cp "$work/$1.out" "$transcripts/$2" || fail "could not keep $1 in $transcripts"
}
export WAYFARER_WINEPREFIX="$work/wineprefix"
remove_prefix() {
    WINEPREFIX="$WAYFARER_WINEPREFIX" wineserver -k >/dev/null 2>&1
    WINEPREFIX="$WAYFARER_WINEPREFIX" wineserver -w >/dev/null 2>&1
    rm -rf "$WAYFARER_WINEPREFIX" "$WAYFARER_WINEPREFIX.lock"
}
remove_prefix  # left by a run that was cut short
trap remove_prefix EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_line() {  # file, exact line
    grep -qxF -- "$2" "$1" || fail "$(basename "$1") lacks the line: $2"
}
cli() {  # name, args...: stdout to $work/name.out, stderr to .err, exit code to .rc
    local name=$1; shift
    "$run" "$cli" "$@" >"$work/$name.raw" 2>"$work/$name.err" </dev/null
    echo $? >"$work/$name.rc"
    tr -d '\r' <"$work/$name.raw" >"$work/$name.out"  # console lines end in CR LF
}
rc() { cat "$work/$1.rc"; }
last_line() {  # file, label: the last "label：..." line
    grep "^$2：" "$1" | tail -n 1
}
# Every operation is real: the checker never notes one as missing.
no_missing_note() {  # name
    grep -q "is not available yet" "$work/$1.err" && fail "$1: an operation is said to be missing"
}
# The page's labels of the checks that cannot pass here (see above).
failing_labels=(DNS解析 网银服务 网银可信站点加入)

# A line that pins the bank's web host, for the hosts check to find and the
# repair to remove.
"$run" cmd /c exit </dev/null >/dev/null 2>&1  # makes the prefix
hosts_file="$WAYFARER_WINEPREFIX/drive_c/windows/system32/drivers/etc/hosts"
[ -f "$hosts_file" ] || fail "the prefix has no hosts file at $hosts_file"
pin_web_host() {
    printf '\r\n127.0.0.1 www.lunmarbank.example # pinned\r\n' >>"$hosts_file"
}
pin_web_host

# /check on the built-in default document.
cli check /check
[ "$(rc check)" = 3 ] || fail "check: exit code $(rc check), expected 3 (checks and components)"
for line in "正在检测注册表" "注册表：不正常" "正在检测Host文件" "正在检测根证书" "正在检测网络连接" \
            "正在检测DNS设置" "正在检测网银服务" "正在检测网络代理设置" "正在检测主页设置" \
            "正在检测安全级别设置" "正在检测可信站点" "检测完毕" "进度 100%" \
            "密码安全控件：未安装" "USBKey驱动：未安装" \
            "下载发生错误：下载配置文件失败，请确认你的电脑能够访问银行网站" \
            "配置文件：内置默认配置" \
            "您的电脑未达到使用我行网银的要求，请点击“一键设置”修复。"; do
    expect_line "$work/check.out" "$line"
done
grep -q "：正常$" "$work/check.out" && grep "：正常$" "$work/check.out" |
    grep -vqE "^(网络连接|注册表|Host文件|CFCA根证书|主页设置|IE安全级别)：正常$" &&
    fail "check: a check that did not run is shown as 正常"
for label in "${failing_labels[@]}"; do
    expect_line "$work/check.out" "$label：不正常"
done
# A fresh prefix has no home-page policy and Wine's zones at their templates.
expect_line "$work/check.out" "主页设置：正常"
expect_line "$work/check.out" "IE安全级别：正常"
grep -qE "^操作系统版本：.+" "$work/check.out" || fail "check: no system description"
grep -qE "^IE版本：[0-9]" "$work/check.out" || fail "check: no browser version"
no_missing_note check
# Steps in order: the last progress before 检测完毕 is 100.
[ "$(grep -n '^进度 100%$' "$work/check.out" | cut -d: -f1)" -lt "$(grep -n '^检测完毕$' "$work/check.out" | cut -d: -f1)" ] ||
    fail "check: 100% does not come before 检测完毕"

# /json: every line is a JSON object; the verdict is the last setState(0,3,...).
cli json /check /json
keep_transcript json check.jsonl
[ "$(rc json)" = 3 ] || fail "json: exit code $(rc json)"
python3 - "$work/json.out" <<'PY' || fail "json: output is not JSON lines with the sequence"
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8") if l.strip()]
calls = [l for l in lines if l.get("function") == "setState"]
status = [c["args"][2] for c in calls if c["args"][:2] == [0, 2]]
assert status == [1000, 1002, 1003, 1004, 1005, 1006, 1007, 1013, 1009, 1010, 1011, 1999], status
progress = [c["args"][2] for c in calls if c["args"][:2] == [0, 0]]
assert progress == [0, 9, 18, 27, 36, 45, 54, 63, 72, 81, 90, 100], progress
assert [c["args"][2] for c in calls if c["args"][:2] == [0, 3]][-1] == 3
assert any(l.get("notice") == 155 for l in lines)
PY

# /fix: the one-click setup runs after the sequence; the repairs say 设置完毕.
cli fix /fix /no
[ "$(rc fix)" = 3 ] || fail "fix: exit code $(rc fix)"
for line in "正在修复Host文件" "正在修复根证书" "正在修复注册表" "正在修复可信站点" "设置完毕"; do
    expect_line "$work/fix.out" "$line"
done
[ "$(last_line "$work/fix.out" Host文件)" = "Host文件：正常" ] || fail "fix: the pinning hosts line was not removed"
no_missing_note fix

# /fix /json, with the hosts line pinned again so that there is a repair to see.
pin_web_host
cli fix_json /fix /json /no
keep_transcript fix_json fix.jsonl
[ "$(rc fix_json)" = 3 ] || fail "fix_json: exit code $(rc fix_json)"
python3 - "$work/fix_json.out" <<'PY' || fail "fix_json: output is not JSON lines with the repair"
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8") if l.strip()]
calls = [l for l in lines if l.get("function") == "setState"]
status = [c["args"][2] for c in calls if c["args"][:2] == [0, 2]]
assert 2003 in status and 2999 in status and status.index(2003) < status.index(2999), status
hosts = [c.get("text") for c in calls if c["args"][:2] == [1, 3]]
assert hosts[-1] == "Host文件：正常", hosts
assert [c["args"][2] for c in calls if c["args"][:2] == [0, 3]][-1] == 3
PY

# The real checks on a document of our own: a registry value in a test key,
# absent; a hosts line that pins the bank's web host; the CFCA chain, which a
# fresh prefix lacks; a home-page policy; a DNS entry for localhost with a
# label. /check finds each out of order (and DNS in order, with its label),
# /fix repairs it (the certificates only when this build carries them), and a
# second /check finds the repairs made.
test_key='HKCU\Software\WayfarerTest\Cli'
cat >"$work/real.xml" <<EOF
<checkitems>
  <config type="registry">
    <entry name="Probe" type="reg_dword" value="7">HKEY_CURRENT_USER\Software\WayfarerTest\Cli</entry>
  </config>
  <config type="host">
    <entry>www.lunmarbank.example</entry>
  </config>
  <config type="dns">
    <entry name="本机线路" ip="127.0.0.1">localhost</entry>
  </config>
</checkitems>
EOF
"$run" reg add 'HKCU\Software\Policies\Microsoft\Internet Explorer\Control Panel' /v Homepage /t REG_DWORD /d 1 /f \
    </dev/null >/dev/null 2>&1 || fail "could not set the home-page policy"
pin_web_host  # the built-in document's repair removed it
certificates_fixed=不正常  # nothing to add without certificates
[ "$have_certificates" = 1 ] && certificates_fixed=正常
# label | after /check | after /fix and on the second /check
real_cases=(
    "注册表|不正常|正常"
    "Host文件|不正常|正常"
    "CFCA根证书|不正常|$certificates_fixed"
    "主页设置|不正常|正常"
    "DNS解析|正常（本机线路）|正常（本机线路）"
)
cli real_check /check /config-file "$work/real.xml"
cli real_fix /fix /no /config-file "$work/real.xml"
cli real_again /check /config-file "$work/real.xml"
for case in "${real_cases[@]}"; do
    IFS='|' read -r label before after <<<"$case"
    for run_expected in "real_check $before" "real_fix $after" "real_again $after"; do
        read -r name expected <<<"$run_expected"
        actual=$(last_line "$work/$name.out" "$label")
        [ "$actual" = "$label：$expected" ] || fail "$name: the last $label line is '$actual', expected $expected"
    done
done
no_missing_note real_check
expect_line "$work/real_check.out" "配置文件：指定文件"
[ "$(rc real_check)" = 1 ] || fail "real_check: exit code $(rc real_check), expected 1"
# Without certificates to install, their check still fails after the repair.
repaired_rc=1
[ "$have_certificates" = 1 ] && repaired_rc=0
for name in real_fix real_again; do
    no_missing_note "$name"
    [ "$(rc "$name")" = "$repaired_rc" ] || fail "$name: exit code $(rc "$name"), expected $repaired_rc"
done
"$run" reg query "$test_key" /v Probe </dev/null 2>/dev/null | tr -d '\r' | grep -qE "Probe +REG_DWORD +0x7$" ||
    fail "real_fix: $test_key\\Probe is not the DWORD 7"
grep -qi "www.lunmarbank.example" "$hosts_file" && fail "real_fix: the pinning hosts line is still there"

# A document of our own: a component type the page has no row for, nothing else.
printf '<checkitems><item name="x" type="other"/></checkitems>' >"$work/other.xml"
cli other /check /config-file "$work/other.xml"
# Nothing to detect is in order: only the environment checks fail.
[ "$(rc other)" = 1 ] || fail "other: exit code $(rc other), expected 1 (the item has nothing to detect)"
grep -q "^密码安全控件" "$work/other.out" && fail "other: a row was reported for an unknown type"

# No document at all: no verdict, exit code 4, and it ends.
printf 'not xml' >"$work/broken.xml"
cli broken /check /config-file "$work/broken.xml"
[ "$(rc broken)" = 4 ] || fail "broken: exit code $(rc broken), expected 4"
grep -q "no configuration document" "$work/broken.err" || fail "broken: no reason given"

# A usage error.
cli usage /frobnicate
[ "$(rc usage)" = 5 ] || fail "usage: exit code $(rc usage)"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s); outputs in $work"
    exit 1
fi
echo "wayfarer-cli end to end: all passed"

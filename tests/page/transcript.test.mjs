// The console checker's transcripts (wayfarer-cli /json) replayed into the
// page: every setState/clearState is made on the page's own global function,
// as the dialog makes it, and what the page then shows must read as the
// console's line for that call ("注册表：不正常", "检测完毕", "进度 100%", ...).
// So the console and the window cannot drift apart in what they tell a user.
//
// Transcripts: the committed ones in tests/page/transcripts (real runs under
// Wine) always; the ones the Wine end-to-end test has just written to
// build/reports/transcripts too when that folder exists.
//
// A call is checked when it is made: its place on the page shows its text, and
// nothing else on the page changes. A call the console shows nothing for
// leaves the page alone. A call the page has no place for fails the replay,
// except where the page leaves it out by design (see NO_PLACE_BY_DESIGN).
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, readdirSync, readFileSync } from 'node:fs';
import { join, relative } from 'node:path';
import { root, withPage } from './harness.mjs';

const open = withPage();

const committedDir = join(root, 'tests/page/transcripts');
const freshDir = join(root, 'build/reports/transcripts');

// The page's script writes category 1 to the row whose value is `.cN` and
// category 2 to `.iN`; which rows exist is read from the page's tables.
const ROW_CLASS = { 1: 'c', 2: 'i' };
// USB-key items; 2 (the serial) goes to the footer, the others to key
// elements of their own.
const KEY_ITEMS = [2, 3, 4, 5, 6, 7, 8];
const KEY_CLEARED_ITEMS = [2, 3, 4, 5, 6, 7];
// The progress bar at 100 % (the frame around it is 235 px).
const FULL_BAR_PX = 233;

// Reports the console names but the page does not show, on purpose: the
// replay makes sure they change nothing.
const NO_PLACE_BY_DESIGN = [
    { matches: (c, i) => c === 1 && i === 9, why: 'the page has no home-page row' },
    { matches: (c, i, keys) => keys.brands.includes(c) && i !== 2,
      why: 'the page shows a USB key only by its serial in the footer' },
];

// ---------------------------------------------------------------- reading

// Lines of a transcript: page calls, and the message boxes the console
// printed between them (those never reach the page).
function parseTranscript(name, text) {
    const calls = [];
    let boxes = 0;
    text.split('\n').forEach((raw, index) => {
        const where = `${name}:${index + 1}`;
        if (raw.trim() === '') return;
        assert.ok(!raw.includes('\r'), `${where}: a CR is left in the line`);
        let line;
        try {
            line = JSON.parse(raw);
        } catch (e) {
            assert.fail(`${where} is not JSON: ${raw}`);
        }
        if (line !== null && typeof line === 'object' && 'function' in line) {
            assert.ok(typeof line.function === 'string' && Array.isArray(line.args),
                `${where}: a page call needs a function name and an args array: ${raw}`);
            assert.ok(line.args.every((a) => typeof a === 'string' || Number.isInteger(a)),
                `${where}: page arguments are 32-bit numbers or texts: ${raw}`);
            assert.ok(!('text' in line) || typeof line.text === 'string', `${where}: text is not a string: ${raw}`);
            calls.push({ where, line, raw });
        } else if (line !== null && typeof line === 'object' && ('prompt' in line || 'notice' in line)) {
            boxes++;
        } else if (line !== null && typeof line === 'object' && typeof line.configuration === 'string') {
            // Where the document came from: the console's own line, not the page's.
        } else {
            assert.fail(`${where}: neither a page call, a prompt or notice, nor the configuration's source: ${raw}`);
        }
    });
    return { name, calls, boxes };
}

function transcriptsIn(dir) {
    if (!existsSync(dir)) return [];
    return readdirSync(dir).filter((f) => f.endsWith('.jsonl')).sort().map((f) => join(dir, f));
}

// ---------------------------------------------------------------- the page

// Runs in the page: everything a page call can change that a person sees.
function installView() {
    window.__transcriptView = function () {
        const shown = (el) => !!el && el.getClientRects().length > 0 && getComputedStyle(el).visibility !== 'hidden';
        const one = (selector) => {
            const el = document.querySelector(selector);
            return { text: el ? el.textContent : null, shown: shown(el) };
        };
        const rows = {};
        for (const tr of document.querySelectorAll('.rows tr')) {
            const th = tr.querySelector('th');
            for (const span of tr.querySelectorAll('td span')) {
                for (const cls of span.classList) {
                    if (/^[a-z]\d+$/.test(cls)) {
                        rows[cls] = { label: th ? th.textContent : '', value: span.textContent, shown: shown(span) };
                    }
                }
            }
        }
        const elements = {};
        const driverIds = Object.values(window.KEY_DRIVER_ELEMENT || {});
        for (const el of document.querySelectorAll('[id]')) {
            if (/^key_/.test(el.id) || /^k\d+$/.test(el.id) || driverIds.includes(el.id)) {
                elements[el.id] = { text: el.textContent, shown: shown(el) };
            }
        }
        const bar = document.querySelector('.progress .pc');
        const ui = document.getElementById('appUi');
        return {
            status: one('.status_check'),
            verdict: one('.status_result'),
            footer: one('#usbkeysn'),
            progress: { width: bar ? bar.getBoundingClientRect().width : null, shown: shown(bar) },
            rows,
            elements,
            html: ui.innerHTML,
            allText: ui.textContent,
        };
    };
    return {
        brands: Object.keys(window.KEY_BRANDS || {}).map(Number),
        driverElement: window.KEY_DRIVER_ELEMENT || {},
        functions: ['setState', 'clearState'].filter((f) => typeof window[f] === 'function'),
    };
}

const view = (page) => page.page.evaluate(() => window.__transcriptView());

// The call made as the dialog makes it: the page's global function looked up
// by name and called with the arguments in order (numbers stay numbers, texts
// strings); the view before and after it.
function callOnPage(page, fn, args) {
    return page.page.evaluate(([f, a]) => {
        const before = window.__transcriptView();
        window[f](...a);
        return [before, window.__transcriptView()];
    }, [fn, args]);
}

// The places of a view, each as what can be compared.
function places(v) {
    const out = new Map([
        ['status line', v.status],
        ['verdict', v.verdict],
        ['footer', v.footer],
        ['progress bar', v.progress],
    ]);
    for (const [cls, row] of Object.entries(v.rows)) out.set(`row .${cls}`, row);
    for (const [id, el] of Object.entries(v.elements)) out.set(`#${id}`, el);
    return out;
}

const rowText = (row) => `${row.label}：${row.value}`;

// ---------------------------------------------------------------- routing

const describeCall = ({ line }) => `${line.function}(${line.args.map((a) => JSON.stringify(a)).join(', ')})`;

// Where a call lands on the page: { places } (with footer: 'add' or 'clear'
// for the serials, blank for erased key details), or { ignoredWhy } for a call
// the page leaves out by design. Throws for a call the page has no place for.
function route(call, tables, before) {
    const { line, where } = call;
    const what = `${where}: ${describeCall(call)}`;
    const unknown = (why) => new Error(`${what}: ${why}`);
    if (!['setState', 'clearState'].includes(line.function)) {
        throw unknown('the native side calls only setState and clearState on the page; this call is unknown');
    }
    if (!tables.functions.includes(line.function)) {
        throw unknown(`the page has no global function ${line.function}`);
    }
    const [c, i] = line.args;
    if (!Number.isInteger(c) || !Number.isInteger(i)) {
        throw unknown('category and item must be numbers');
    }
    const text = line.text;
    const byDesign = NO_PLACE_BY_DESIGN.find((d) => d.matches(c, i, tables));

    if (line.function === 'clearState') {
        if (line.args.length !== 2) throw unknown('clearState takes a category and an item');
        if (!tables.brands.includes(c) || !KEY_CLEARED_ITEMS.includes(i)) {
            throw unknown('clearState is only made for the USB-key categories and items 2 to 7');
        }
        if (text !== undefined) throw unknown('the console has a text for a clearState');
        if (i === 2) {
            return { places: ['footer'], footer: 'clear' };
        }
        // Erased key details: their elements (when the page has them) go blank.
        const ids = [`key_${c}_${i}`, ...(i <= 5 ? [`k${i}`] : [])].filter((id) => id in before.elements);
        if (ids.length === 0) return { ignoredWhy: byDesign.why };
        return { places: ids.map((id) => `#${id}`), blank: true };
    }

    if (line.args.length < 3) throw unknown('setState takes a category, an item and a value');
    if (c === 0) {
        if (i === 0 || i === 1) return { places: ['progress bar'] };
        if (i === 2) return { places: ['status line'] };
        if (i === 3) return { places: ['verdict'] };
        throw unknown(`category 0 has no item ${i} on the page`);
    }
    if (c in ROW_CLASS) {
        const cls = `${ROW_CLASS[c]}${i}`;
        if (cls in before.rows) return { places: [`row .${cls}`] };
        if (byDesign) return { ignoredWhy: byDesign.why };
        throw unknown(`the page has no row .${cls} for category ${c} item ${i}${text ? ` ("${text}")` : ''}`);
    }
    if (tables.brands.includes(c)) {
        if (!KEY_ITEMS.includes(i)) throw unknown(`USB-key item ${i} is unknown`);
        if (i === 2) return { places: ['footer'], footer: 'add' };
        const id = i === 8 ? tables.driverElement[c] : `key_${c}_${i}`;
        if (id && id in before.elements) return { places: [`#${id}`] };
        return { ignoredWhy: byDesign.why };
    }
    throw unknown(`category ${c} is not one the page shows`);
}

// ---------------------------------------------------------------- checking

function expectProgress(what, text, bar) {
    const m = /^(?:下载)?进度 (-?\d+)%$/.exec(text);
    assert.ok(m, `${what}: a progress line reads "进度 N%" or "下载进度 N%", not "${text}"`);
    const percent = Math.max(0, Math.min(100, Number(m[1])));
    const want = (percent * FULL_BAR_PX) / 100;
    assert.ok(Math.abs(bar.width - want) <= 0.5,
        `${what}: "${text}" but the bar is ${bar.width}px of ${FULL_BAR_PX}px (want ${want.toFixed(1)}px)`);
}

// What a place reads after a call with this text; asserts it.
function expectPlace(what, place, text, got) {
    assert.ok(got, `${what}: ${place} is gone from the page`);
    if (place === 'progress bar') {
        expectProgress(what, text, got);
        return;
    }
    const shows = place.startsWith('row ') ? rowText(got) : got.text;
    assert.equal(shows, text, `${what}: the console says "${text}", ${place} shows "${shows}"`);
    if (text.trim() !== '') {
        assert.ok(got.shown, `${what}: ${place} reads "${text}" but is not visible`);
    }
}

// Replays the calls into the page; returns the last text of each place the
// transcript touched (and where that call was).
async function replay(page, transcript) {
    const tables = await page.page.evaluate(installView);
    const last = new Map();
    let footer = (await view(page)).footer.text;
    for (const call of transcript.calls) {
        const what = `${call.where}: ${describeCall(call)}`;
        const target = route(call, tables, await view(page));
        const [before, after] = await callOnPage(page, call.line.function, call.line.args);
        const text = call.line.text;

        if (target.ignoredWhy !== undefined) {
            assert.equal(after.html, before.html, `${what}: ${target.ignoredWhy}, yet the page changed`);
            continue;
        }
        if (text === undefined && !target.footer && !target.blank) {
            // Status 1000, 2012 and the like: the line above stays.
            assert.equal(after.html, before.html, `${what}: the console shows nothing for it, but the page changed`);
            continue;
        }
        const beforePlaces = places(before);
        const afterPlaces = places(after);
        for (const place of target.places) {
            const got = afterPlaces.get(place);
            if (target.blank) {
                assert.ok(got && got.text.trim() === '', `${what}: erased, yet ${place} shows "${got?.text}"`);
                last.set(place, { text: got.text, where: call.where });
                continue;
            }
            let want = text;
            if (target.footer === 'clear') want = '';
            else if (target.footer === 'add') want = footer + text;
            expectPlace(what, place, want, got);
            if (target.footer) footer = want;
            last.set(place, { text: want, where: call.where });
        }
        for (const [place, was] of beforePlaces) {
            if (target.places.includes(place)) continue;
            assert.deepEqual(afterPlaces.get(place), was, `${what}: ${place} changed too`);
        }
        // A component's tips and name go along with its report, never onto the page.
        for (const extra of call.line.args.slice(3)) {
            if (typeof extra === 'string' && extra !== '' && !before.allText.includes(extra)) {
                assert.ok(!after.allText.includes(extra), `${what}: the page shows the extra argument "${extra}"`);
            }
        }
    }
    // At the end each place still shows the last text the transcript gave it.
    const final = places(await view(page));
    for (const [place, { text, where }] of last) {
        expectPlace(`end of ${transcript.name} (last set at ${where})`, place, text, final.get(place));
    }
    return last;
}

// ---------------------------------------------------------------- the runs

const fresh = transcriptsIn(freshDir);
const committed = transcriptsIn(committedDir);
const freshNote = existsSync(freshDir)
    ? (fresh.length ? `fresh ones from ${relative(root, freshDir)} and` : `no .jsonl in ${relative(root, freshDir)}; only`)
    : `no ${relative(root, freshDir)} (the Wine tests did not run); only`;

describe(`console transcripts: ${freshNote} the committed ones`, () => {
    test('the committed transcripts are there', () => {
        const names = committed.map((f) => relative(committedDir, f));
        for (const name of ['check.jsonl', 'fix.jsonl']) assert.ok(names.includes(name), `${name} is missing from ${committedDir}`);
    });

    const runs = [
        ...fresh.map((file) => ['fresh', file, `fresh-${relative(freshDir, file).replace(/\.jsonl$/, '')}`]),
        ...committed.map((file) => ['committed', file, relative(committedDir, file).replace(/\.jsonl$/, '')]),
    ];
    for (const [set, file, name] of runs) {
        test(`${set} ${relative(root, file)} replays onto the page`, async (t) => {
            const transcript = parseTranscript(relative(root, file), readFileSync(file, 'utf8'));
            assert.ok(transcript.calls.length > 0, `${file}: no page calls`);
            const page = await open();
            const last = await replay(page, transcript);
            // A whole run reaches its verdict: a transcript cut short shows here.
            assert.ok(last.has('verdict'), `${file}: no verdict in the transcript`);
            const path = await page.screenshot(`transcript-${name}`);
            t.diagnostic(`${transcript.calls.length} page calls, ${transcript.boxes} message boxes; ` +
                `places checked: ${[...last.keys()].join(', ')}`);
            t.diagnostic(`screenshot: ${relative(root, path)}`);
        });
    }
});

// ---------------------------------------------------------------- the replay itself

const call = (fn, args, text) => JSON.stringify(text === undefined ? { function: fn, args } : { function: fn, args, text });
const set = (args, text) => call('setState', args, text);
const clearKeys = () => [800, 801, 802, 803].flatMap((c) => KEY_CLEARED_ITEMS.map((i) => call('clearState', [c, i])));
const NOT_IN_ORDER = '您的电脑未达到使用我行网银的要求，请点击“一键设置”修复。';

describe('the replay on reports today\'s transcripts do not have yet', () => {
    // Written in the console's words (app/state_text.cpp) for component states
    // and USB keys, which the detection will report.
    const lines = [
        ...clearKeys(),
        set([2, 1, 0x40000005, '保护密码输入', '密码安全控件'], '密码安全控件：已被禁用'),
        set([2, 2, 2], '证书签名控件：已安装，但有更新版本'),
        set([2, 2, 6], '证书签名控件：未安装'),
        set([2, 3, 8], 'USBKey控件：已被禁用'),
        set([2, 4, 0], 'USBKey驱动：已安装最新版本'),
        set([2, 4, 0x80000004 | 0], 'USBKey驱动：未安装'),
        set([800, 2, 'HH0001'], ' USBKey(华虹)  序列号：HH0001 ;'),
        set([800, 3, 0], '完整'),
        set([800, 4, 1], '已被锁定'),
        set([800, 5, 1], '默认密码'),
        set([800, 6, 2], '2个'),
        set([800, 7, 0], '已经注册'),
        set([800, 8, '1.0.3.7'], '当前驱动版本：1.0.3.7'),
        set([803, 2, 'FT-778'], ' USBKey(飞天)  序列号：FT-778 ;'),
        set([803, 8, '2.2'], '当前驱动版本：2.2'),
        // the next reading of the keys starts over
        ...clearKeys(),
        set([801, 2, '<b>TC9</b>'], ' USBKey(天诚)  序列号：<b>TC9</b> ;'),
        set([0, 3, 2], NOT_IN_ORDER),
    ];

    test('components and USB keys land in their rows and the footer', async () => {
        const page = await open();
        const last = await replay(page, parseTranscript('keys', lines.join('\n')));
        assert.deepEqual([...last.keys()].sort(), ['footer', 'row .i1', 'row .i2', 'row .i3', 'row .i4', 'verdict']);
        assert.equal(await page.text('#usbkeysn'), ' USBKey(天诚)  序列号：<b>TC9</b> ;');
    });

    test('key details land in key elements once the page has them', async () => {
        const page = await open();
        // The elements the page's script writes key details to, which its
        // markup does not have (yet).
        await page.page.evaluate(() => {
            const box = document.createElement('div');
            for (let c = 800; c <= 803; c++) {
                for (let i = 3; i <= 7; i++) box.appendChild(Object.assign(document.createElement('span'), { id: `key_${c}_${i}` }));
            }
            for (const id of ['k3', 'k4', 'k5']) box.appendChild(Object.assign(document.createElement('span'), { id }));
            document.getElementById('appUi').appendChild(box);
        });
        const last = await replay(page, parseTranscript('keys', lines.join('\n')));
        const lineOf = (text) => `keys:${lines.lastIndexOf(text) + 1}`;
        // The second reading erased the first one's details, k3..k5 by item
        // number whichever key they belonged to.
        for (const [place, erasedBy] of [['#key_800_4', [800, 4]], ['#key_800_6', [800, 6]], ['#k3', [803, 3]]]) {
            assert.equal(last.get(place)?.text.trim(), '', place);
            assert.equal(last.get(place).where, lineOf(call('clearState', erasedBy)), place);
        }
        // 803's driver version has no element of its own: left out.
        assert.equal(last.has('#k5'), true);
        assert.equal([...last.values()].some((v) => v.text.includes('2.2')), false);
    });
});

describe('a transcript that disagrees with the page fails, naming the line', () => {
    // lines → what the failure must say
    const cases = [
        ['not JSON', ['setState(0, 2, 1002)'], /t:1 is not JSON/],
        ['a line of another kind', ['{"dialog":1}'], /t:1: neither a page call, a prompt or notice, nor the configuration's source/],
        ['a function the native side never calls', [call('setKey', [800, 2, 'X'])], /t:1: setKey\(.*only setState and clearState/],
        ['a category the page does not show', [set([5, 1, 0], '某项：正常')], /t:1: .*category 5 is not one the page shows/],
        ['a check without a row', [set([1, 12, 0], '代理设置：正常')], /t:1: .*no row \.c12.*代理设置/],
        ['a component row the page lacks', [set([2, 5, 0], '某控件：已安装最新版本')], /no row \.i5/],
        ['an unknown status item', [set([0, 4, 0], '?')], /category 0 has no item 4/],
        ['clearState outside the USB keys', [call('clearState', [1, 2])], /clearState is only made for the USB-key/],
        ['a USB-key item past 8', [set([800, 9, 0], '?')], /USB-key item 9 is unknown/],
        ['category as text', [set(['1', 2, 0], '注册表：正常')], /category and item must be numbers/],
        ['a check\'s result the other way round', [set([1, 2, 1], '注册表：正常')], /t:1: .*says "注册表：正常", row \.c2 shows "注册表：不正常"/],
        ['another label', [set([2, 1, 0], '密码控件：已安装最新版本')], /shows "密码安全控件：已安装最新版本"/],
        ['another status text', [set([0, 2, 1002], '正在检测Host文件')], /status line shows "正在检测注册表"/],
        ['another percentage', [set([0, 0, 50], '进度 40%')], /"进度 40%" but the bar is 11[67]/],
        // the page has texts for repair codes the console has none for
        ['silent on the console, shown by the page', [set([0, 2, 2005])], /t:1: .*console shows nothing for it, but the page changed/],
        ['another brand in the footer', [call('clearState', [800, 2]), set([800, 2, 'A'], ' USBKey(飞天)  序列号：A ;')],
            /t:2: .*footer shows " USBKey\(华虹\)  序列号：A ;"/],
    ];
    for (const [name, lines, message] of cases) {
        test(name, async () => {
            const page = await open();
            await assert.rejects(async () => replay(page, parseTranscript('t', lines.join('\n'))), message);
        });
    }
});

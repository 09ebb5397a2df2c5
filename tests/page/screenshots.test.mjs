// Pictures of the main states at the dialog's size, for people to look at:
// build/reports/page-screenshots/*.png. Each state is reached with the
// reports the dialog sends for it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { withPage } from './harness.mjs';

const open = withPage();

const system = [
    [1, 1, 'Microsoft Windows 10 Pro (build 19045), 64-bit'],
    [1, 8, 'Internet Explorer 11.0.19041.3636'],
    [1, 5, 0],
];
const sequence = (results) => [
    [0, 0, 0], [0, 2, 1000],
    [0, 0, 9], [0, 2, 1002], [1, 2, results[2]],
    [0, 0, 18], [0, 2, 1003], [1, 3, results[3]], [1, 6, results[6]],
    [0, 0, 27], [0, 2, 1004], [1, 4, results[4]],
    [0, 0, 36], [0, 2, 1005], [1, 5, results[5]],
    [0, 0, 45], [0, 2, 1006], [1, 6, results[6]],
    [0, 0, 54], [0, 2, 1007], [1, 7, results[7]],
    [0, 0, 63], [0, 2, 1013],
    [0, 0, 72], [0, 2, 1009], [1, 9, 0],
    [0, 0, 81], [0, 2, 1010], [1, 10, results[10]],
    [0, 0, 90], [0, 2, 1011], [1, 11, results[11]],
    [0, 0, 100], [0, 2, 1999],
];
const keys = (serials) => [
    ...[800, 801, 802, 803].flatMap((c) => [2, 3, 4, 5, 6, 7].map((i) => ['clear', c, i])),
    ...serials.map(([c, s]) => [c, 2, s]),
];

async function run(page, list) {
    for (const r of list) {
        if (r[0] === 'clear') await page.clearState(r[1], r[2]);
        else await page.setState(...r);
    }
}

const states = [
    ['1-start', [], async (page) => {
        assert.equal(await page.text('.status_check'), '正在获取配置');
    }],
    ['2-checking', [...system, ...sequence({ 2: 0, 3: 1, 4: 0, 5: 0, 6: '主线路', 7: 0, 10: 0, 11: 0 }).slice(0, 18)], async (page) => {
        assert.equal(await page.text('.status_check'), '正在检测DNS设置');
    }],
    ['3-all-in-order', [...system, ...sequence({ 2: 0, 3: 0, 4: 0, 5: 0, 6: '主线路', 7: 0, 10: 0, 11: 0 }),
        [2, 1, 0], [2, 2, 0], [2, 3, 0], [2, 4, 0], ...keys([[800, 'HH20240518001']]), [0, 3, 0]], async (page) => {
        assert.equal(await page.text('#onOpen'), '登录');
    }],
    ['4-problems-found', [...system, ...sequence({ 2: 1, 3: 1, 4: 1, 5: 0, 6: 1, 7: 1, 10: 1, 11: 1 }),
        [2, 1, 0], [2, 2, 0], [2, 3, 0], [2, 4, 0], ...keys([]), [0, 3, 1]], async (page) => {
        assert.equal(await page.page.locator('.op a.sbtn', { hasText: '修复' }).count(), 5);
    }],
    ['5-components-to-install', [...system, ...sequence({ 2: 0, 3: 0, 4: 0, 5: 0, 6: 0, 7: 0, 10: 0, 11: 0 }),
        [2, 1, 5], [2, 2, 2], [2, 3, 8], [2, 4, 5],
        ...keys([[800, 'HH20240518001'], [802, 'FT0098812']]), [0, 3, 2]], async (page) => {
        assert.deepEqual(await page.page.locator('#d1 a, #d2 a, #d3 a, #d4 a').allTextContents(), ['安装', '升级', '修复', '安装']);
    }],
    ['6-guide', [], async (page) => {
        await page.click('#tabs li.help a');
        assert.equal(await page.page.isVisible('#iHelp'), true);
    }],
];

for (const [name, reports, check] of states) {
    test(`screenshot ${name}`, async (t) => {
        const page = await open();
        await run(page, reports);
        await check(page);
        const path = await page.screenshot(name);
        t.diagnostic(`screenshot: ${path}`);
    });
}

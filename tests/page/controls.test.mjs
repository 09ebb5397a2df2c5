// What the user can click: the two tabs, the guide's sections and the
// buttons that call window.external.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { withPage } from './harness.mjs';

const open = withPage();

const visible = (page, selector) => page.page.isVisible(selector);

describe('tabs', () => {
    test('start on "检测和设置" with the checks shown and the guide hidden', async () => {
        const page = await open();
        assert.deepEqual(await page.page.evaluate(() => Array.from(document.querySelectorAll('#tabs li'),
            (li) => [li.className, li.id, li.textContent])),
        [['scan', 'liOn', '检测和设置'], ['help', '', '使用指南']]);
        assert.equal(await visible(page, '#iScan'), true);
        assert.equal(await visible(page, '#iHelp'), false);
    });

    test('a click moves liOn to the tab and shows only its panel, back and forth', async () => {
        const page = await open();
        for (const [tab, shown, hidden] of [['help', '#iHelp', '#iScan'], ['help', '#iHelp', '#iScan'],
            ['scan', '#iScan', '#iHelp'], ['help', '#iHelp', '#iScan']]) {
            await page.click(`#tabs li.${tab} a`);
            assert.deepEqual(await page.page.evaluate(() => Array.from(document.querySelectorAll('#liOn'), (li) => li.className)), [tab]);
            assert.equal(await visible(page, shown), true, `${tab}: ${shown}`);
            assert.equal(await visible(page, hidden), false, `${tab}: ${hidden}`);
        }
        assert.deepEqual(await page.takeCalls(), []);
    });

    test('reports still reach the hidden panel', async () => {
        const page = await open();
        await page.click('#tabs li.help a');
        await page.setState(1, 3, 1);
        await page.click('#tabs li.scan a');
        assert.equal(await page.text('.c3'), '不正常');
        assert.equal(await visible(page, '#f3 a'), true);
    });
});

describe('guide sections', () => {
    const steps = (page) => page.page.evaluate(() => Array.from(document.querySelectorAll('.guide .section'), (s) => ({
        title: s.querySelector('.title').textContent,
        open: s.querySelector('ul').id === 'open',
        shown: s.querySelector('ul').offsetHeight > 0,
        steps: Array.from(s.querySelectorAll('li'), (li) => [li.textContent, li.querySelector('img')?.getAttribute('src') ?? null]),
    })));

    test('"个人专业版/企业版" starts expanded with its three steps; "个人大众版" collapsed', async () => {
        const page = await open();
        await page.click('#tabs li.help a');
        assert.deepEqual(await steps(page), [
            { title: '个人专业版/企业版', open: true, shown: true, steps: [
                ['第1步：请插入行方发给您的USBKey', null],
                ['第2步：点击“重新检测”按钮', 'images/a.gif'],
                ['第3步：点击“一键设置”按钮', 'images/b.gif']] },
            { title: '个人大众版', open: false, shown: false, steps: [
                ['第1步：点击“重新检测”按钮', 'images/a.gif'],
                ['第2步：点击“一键设置”按钮', 'images/b.gif']] },
        ]);
    });

    test('a click on a title moves "open" there: one section expanded at a time', async () => {
        const page = await open();
        await page.click('#tabs li.help a');
        for (const [index, expected] of [[1, [false, true]], [1, [false, true]], [0, [true, false]]]) {
            await page.page.locator('.guide .title').nth(index).click();
            const now = await steps(page);
            assert.deepEqual(now.map((s) => s.open), expected);
            assert.deepEqual(now.map((s) => s.shown), expected);
        }
        assert.equal(await page.page.evaluate(() => document.querySelectorAll('#open').length), 1);
    });
});

describe('buttons that call the dialog', () => {
    // button → the calls one click makes, in order; the arguments are numbers
    const buttons = [
        ['"重新检测"', '#btnCheck', '重新检测', [['check', 1]]],
        ['"一键设置"', '#btnFix', '一键设置', [['fix', 0], ['install', 0]]],
        ['"清除" of IE缓存清理', '#clearCache', '清除', [['fix', 16]]],
        ['"清除" of SSL缓存清理', '#clearSsl', '清除', [['fix', 12]]],
    ];
    for (const [name, selector, label, calls] of buttons) {
        test(`${name} calls ${calls.map(([m, a]) => `${m}(${a})`).join(' then ')}`, async () => {
            const page = await open();
            assert.equal(await page.text(selector), label);
            await page.click(selector);
            assert.deepEqual(await page.takeCalls(), calls);
            await page.click(selector);
            assert.deepEqual(await page.takeCalls(), calls);
        });
    }

    test('the rows of the cache buttons are where their labels are', async () => {
        const page = await open();
        const rows = await page.page.evaluate(() => ['#clearCache', '#clearSsl'].map(
            (s) => document.querySelector(s).closest('tr').querySelector('th').textContent));
        assert.deepEqual(rows, ['IE缓存清理', 'SSL缓存清理']);
    });

    test('a failing dialog call does not stop the next one nor break the page', async () => {
        const page = await open();
        await page.page.evaluate(() => {
            window.external.fix = function () { throw new Error('not available'); };
        });
        await page.click('#btnFix');
        assert.deepEqual(await page.takeCalls(), [['install', 0]]);
        await page.page.evaluate(() => { delete window.external; window.external = undefined; });
        await page.click('#btnCheck');
        await page.setState(1, 2, 1);
        await page.click('#f2 a');
        assert.equal(await page.text('.c2'), '不正常');
    });
});

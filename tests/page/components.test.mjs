// Category 2: the four component rows, their state words and buttons.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { withPage } from './harness.mjs';

const open = withPage();

const DISABLED = 0x40000000;
const NO_KEY = 0x80000000 | 0; // arrives from the dialog as a signed 32-bit value

// [rows, value, text, in order (blue), button]
const cases = [
    [[1, 2, 3, 4], 0, '已安装最新版本', true, null],
    [[1, 2, 3, 4], 2, '已安装，但有更新版本', false, '升级'],
    [[1, 2, 3, 4], 5, '未安装', false, '安装'],
    [[1, 2, 3, 4], 8, '已被禁用', false, '修复'],
    [[1, 2, 3, 4], 1, '未安装', false, null],
    [[1, 2, 3, 4], 4, '未安装', false, null],
    [[1, 2, 3, 4], 6, '未安装', false, null],
    [[1, 2, 3, 4], 7, '未安装', false, null],
    // the disabled bit wins over the code for the three controls ...
    [[1, 2, 3], DISABLED | 5, '已被禁用', false, null],
    [[1, 2, 3], DISABLED | 2, '已被禁用', false, null],
    [[1, 2, 3], DISABLED, '已被禁用', false, null],
    // ... but not for the driver, whose flag bits never make a code
    [[4], DISABLED | 5, '未安装', false, null],
    [[4], DISABLED, '未安装', false, null],
    // no USB key plugged in: the code with bit 31 is no offer
    [[1, 2, 3, 4], NO_KEY | 5, '未安装', false, null],
    [[4], 0x80000005, '未安装', false, null],
];

describe('component rows', () => {
    for (const [rows, value, text, blue, button] of cases) {
        test(`value 0x${(value >>> 0).toString(16)}: "${text}"${button ? ` with "${button}"` : ''} on rows ${rows}`, async () => {
            const page = await open();
            for (const row of rows) {
                // start from a row that shows a button, so that a report
                // without one has to take it away
                await page.setState(2, row, 5);
                await page.setState(2, row, value);
                const look = await page.look(`.i${row}`);
                assert.deepEqual([look.text, look.blue, look.yellow], [text, blue, !blue], `row ${row}`);
                assert.deepEqual(await page.buttons(`#d${row}`), button ? [button] : [], `row ${row}`);
                if (button) {
                    await page.click(`#d${row} a`);
                    assert.deepEqual(await page.takeCalls(), [['installcom', row]], `row ${row}`);
                }
            }
            assert.deepEqual(await page.takeCalls(), []);
        });
    }

    test('each report replaces the row: one button at most', async () => {
        const page = await open();
        for (const value of [2, 2, 5, 8, 8]) {
            await page.setState(2, 3, value);
            assert.equal((await page.buttons('#d3')).length, 1);
        }
        await page.setState(2, 3, 0);
        assert.deepEqual(await page.buttons('#d3'), []);
    });

    test('rows outside 1 to 4 change nothing', async () => {
        const page = await open();
        const rows = () => page.page.evaluate(() => document.querySelector('.b-com').innerHTML);
        const before = await rows();
        for (const row of [0, 5, -1, 100]) {
            await page.setState(2, row, 5);
        }
        assert.equal(await rows(), before);
    });

    test('a tips text and name (five arguments) show nothing more', async () => {
        const page = await open();
        await page.setState(2, 1, 5, '请先关闭浏览器<b>再安装</b>', '密码控件');
        assert.equal(await page.text('.i1'), '未安装');
        assert.deepEqual(await page.buttons('#d1'), ['安装']);
        const body = await page.page.evaluate(() => document.body.textContent);
        assert.ok(!body.includes('关闭浏览器') && !body.includes('密码控件'));
    });
});

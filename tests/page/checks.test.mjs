// Category 1: the environment checks, their colours and repair buttons.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { withPage } from './harness.mjs';

const open = withPage();

describe('operating system (item 1) and browser (item 8)', () => {
    // description from the system → what the row shows
    const systems = [
        ['Microsoft Windows 7 旗舰版 Service Pack 1 (build 7601), 32-bit', 'Windows 7'],
        ['Microsoft Windows 7 Ultimate Edition Service Pack 1 (build 7601), 64-bit', 'Windows 7'],
        ['Microsoft Windows Vista Business Service Pack 2', 'Windows Vista'],
        ['Microsoft Windows Server 2008 R2 Standard', 'Windows Server 2008'],
        ['Microsoft Windows Server 2003 Enterprise Edition', 'Windows Server 2003'],
        ['Microsoft Windows XP Professional Service Pack 3 (build 2600)', 'Windows XP'],
        ['Microsoft Windows 2000 Professional', 'Windows 2000'],
        ['Microsoft Windows 8.1 Pro (build 9600)', 'Windows 8'],
        // newer systems get their own names, not "Windows 8" or the whole text
        ['Microsoft Windows 10 Pro (build 19045), 64-bit', 'Windows 10'],
        ['Microsoft Windows 11 专业版 (build 22631), 64-bit', 'Windows 11'],
        // none of the names: the text stays whole
        ['Microsoft Windows Server 2012 R2 Datacenter', 'Microsoft Windows Server 2012 R2 Datacenter'],
        ['', ''],
    ];

    test('the system description shortens to the first name it contains', async () => {
        const page = await open();
        for (const [description, shown] of systems) {
            await page.setState(1, 1, description);
            assert.equal(await page.text('.c1'), shown, description);
        }
    });

    test('the browser version shows unchanged', async () => {
        const page = await open();
        for (const version of ['Internet Explorer 11.0.9600.19036', 'Internet Explorer 8.0.7601.17514', 'Windows 7']) {
            await page.setState(1, 8, version);
            assert.equal(await page.text('.c8'), version);
        }
    });
});

describe('pass/fail rows', () => {
    // item → whether a failure offers "修复" (calling external.fix(item))
    const rows = [[2, true], [3, true], [4, true], [10, true], [11, true], [5, false], [6, false], [7, false]];

    for (const [item, repairable] of rows) {
        test(`item ${item}: 0 "正常" blue, 1 "不正常" yellow${repairable ? ' with "修复"' : ''}, and back`, async () => {
            const page = await open();
            const cell = `#f${item}`;
            await page.setState(1, item, 1);
            let look = await page.look(`.c${item}`);
            assert.deepEqual([look.text, look.yellow, look.blue], ['不正常', true, false]);
            assert.equal(look.color, 'rgb(250, 94, 0)');
            if (repairable) {
                assert.deepEqual(await page.buttons(cell), ['修复']);
                await page.click(`${cell} a`);
                await page.click(`${cell} a`);
                assert.deepEqual(await page.takeCalls(), [['fix', item], ['fix', item]]);
                // a second failure report keeps one button, not two
                await page.setState(1, item, 1);
                assert.deepEqual(await page.buttons(cell), ['修复']);
            } else {
                assert.equal(await page.page.locator(`.c${item}`).locator('xpath=../..').locator('a').count(), 0);
            }
            await page.setState(1, item, 0);
            look = await page.look(`.c${item}`);
            assert.deepEqual([look.text, look.blue, look.yellow], ['正常', true, false]);
            assert.equal(look.color, 'rgb(0, 51, 153)');
            if (repairable) {
                assert.deepEqual(await page.buttons(cell), []);
            }
            assert.deepEqual(await page.takeCalls(), []);
        });
    }

    test('any value but 0 is a failure', async () => {
        const page = await open();
        for (const value of [1, 2, -1, 0x80000000 | 0]) {
            await page.setState(1, 3, 0);
            await page.setState(1, 3, value);
            assert.equal(await page.text('.c3'), '不正常', `value ${value}`);
        }
    });

    test('one row\'s report leaves the others alone', async () => {
        const page = await open();
        await page.report([[1, 2, 1], [1, 3, 1], [1, 4, 0]]);
        await page.setState(1, 3, 0);
        assert.deepEqual(await page.buttons('#f2'), ['修复']);
        assert.deepEqual(await page.buttons('#f3'), []);
        await page.click('#f2 a');
        assert.deepEqual(await page.takeCalls(), [['fix', 2]]);
    });
});

describe('DNS (item 6) with the label of the matching answer', () => {
    test('shows as in order, blue, with the label', async () => {
        const page = await open();
        await page.setState(1, 6, '主线路');
        const look = await page.look('.c6');
        assert.deepEqual([look.text, look.blue, look.yellow], ['正常（主线路）', true, false]);
        // a later failure still shows as one
        await page.setState(1, 6, 1);
        assert.deepEqual(Object.values(await page.look('.c6')).slice(0, 3), ['不正常', false, true]);
        await page.setState(1, 6, 'backup line 2');
        assert.equal(await page.text('.c6'), '正常（backup line 2）');
    });
});

describe('reports without a row', () => {
    test('item 9 (home page) and unknown items change nothing', async () => {
        const page = await open();
        const scan = () => page.page.evaluate(() => document.getElementById('iScan').innerHTML);
        const before = await scan();
        for (const item of [9, 0, 12, 13, 99, -1]) {
            await page.setState(1, item, 1);
            await page.setState(1, item, 0);
        }
        assert.equal(await scan(), before);
    });
});

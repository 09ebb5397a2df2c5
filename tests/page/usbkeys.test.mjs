// Categories 800 to 803: USB keys. The page shows only the serials (in the
// footer); the other reports go to key_/k3..k5 elements it does not have, so
// where their texts land is checked with those elements added as a fixture.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { withPage } from './harness.mjs';

const open = withPage();

const brands = { 800: '华虹', 801: '天诚', 802: '飞天', 803: '飞天' };

// What the dialog sends before each reading of the keys.
async function clearAll(page) {
    for (let c = 800; c <= 803; c++) {
        for (let i = 2; i <= 7; i++) await page.clearState(c, i);
    }
}

async function addFixture(page) {
    await page.page.evaluate(() => {
        const box = document.createElement('div');
        box.id = 'fixture';
        let html = '';
        for (let c = 800; c <= 803; c++) {
            for (let i = 3; i <= 7; i++) html += `<span id="key_${c}_${i}">old</span>`;
        }
        html += '<span id="k3">old</span><span id="k4">old</span><span id="k5">old</span>';
        box.innerHTML = html;
        document.body.appendChild(box);
    });
}

const texts = (page, ids) => page.page.evaluate(
    (l) => l.map((id) => document.getElementById(id).textContent), ids);

describe('serial numbers in the footer', () => {
    test('accumulate, one entry per report, until item 2 is cleared', async () => {
        const page = await open();
        await clearAll(page);
        await page.setState(800, 2, 'HH0001');
        await page.setState(802, 2, 'FT-778');
        assert.equal(await page.text('#usbkeysn'),
            ' USBKey(华虹)  序列号：HH0001 ; USBKey(飞天)  序列号：FT-778 ;');
        assert.equal(await page.text('.copyInfo'),
            'Copyright © Lunmar银行 版权所有 USBKey(华虹)  序列号：HH0001 ; USBKey(飞天)  序列号：FT-778 ;');
        await page.setState(800, 2, 'HH0001');
        assert.equal((await page.text('#usbkeysn')).split('序列号').length - 1, 3);
        // the next reading starts over
        await clearAll(page);
        assert.equal(await page.text('#usbkeysn'), '');
        await page.setState(801, 2, 'TC9');
        assert.equal(await page.text('#usbkeysn'), ' USBKey(天诚)  序列号：TC9 ;');
    });

    test('each library has its maker\'s name', async () => {
        const page = await open();
        for (const [category, brand] of Object.entries(brands)) {
            await page.clearState(Number(category), 2);
            await page.setState(Number(category), 2, 'S1');
            assert.equal(await page.text('#usbkeysn'), ` USBKey(${brand})  序列号：S1 ;`);
        }
    });

    test('categories next to the four change nothing', async () => {
        const page = await open();
        for (const category of [799, 804, 3]) {
            await page.setState(category, 2, 'S1');
        }
        assert.equal(await page.text('#usbkeysn'), '');
    });
});

describe('key details (items 3 to 8)', () => {
    // item → [text for 0, text for 1]
    const words = { 3: ['完整', '不完整'], 4: ['没有锁定', '已被锁定'], 5: ['已修改过', '默认密码'], 7: ['已经注册', '没有注册'] };

    test('the page has none of their elements: only the footer shows a key', async () => {
        const page = await open();
        const before = await page.page.evaluate(() => document.getElementById('iScan').innerHTML);
        for (let c = 800; c <= 803; c++) {
            for (let i = 3; i <= 8; i++) await page.setState(c, i, i === 8 ? '1.0.2.3' : 1);
        }
        assert.equal(await page.page.evaluate(() => document.getElementById('iScan').innerHTML), before);
        const ids = await page.page.evaluate(() => Array.from(document.querySelectorAll('[id^="key_"], #k3, #k4, #k5')).length);
        assert.equal(ids, 0);
    });

    test('texts go to key_CATEGORY_ITEM', async () => {
        const page = await open();
        await addFixture(page);
        for (const c of [800, 801, 802, 803]) {
            for (const [item, [zero, other]] of Object.entries(words)) {
                const id = `key_${c}_${item}`;
                await page.setState(c, Number(item), 0);
                assert.deepEqual(await texts(page, [id]), [zero], `${id} 0`);
                await page.setState(c, Number(item), 1);
                assert.deepEqual(await texts(page, [id]), [other], `${id} 1`);
            }
            await page.setState(c, 6, 3);
            assert.deepEqual(await texts(page, [`key_${c}_6`]), ['3个']);
        }
    });

    test('the driver version goes to k3, k4, k5 for 800, 801, 802 in blue; nothing for 803', async () => {
        const page = await open();
        await addFixture(page);
        await page.setState(803, 8, '9.9');
        assert.deepEqual(await texts(page, ['k3', 'k4', 'k5']), ['old', 'old', 'old']);
        await page.setState(800, 8, '1.0.0.1');
        await page.setState(801, 8, '2.1');
        await page.setState(802, 8, '3.0.7');
        assert.deepEqual(await texts(page, ['k3', 'k4', 'k5']),
            ['当前驱动版本：1.0.0.1', '当前驱动版本：2.1', '当前驱动版本：3.0.7']);
        assert.equal((await page.look('#k4')).blue, true);
    });

    test('clearState: items 3 to 5 empty k3..k5 (by item) and blank the key_ element; 6 and 7 blank it', async () => {
        const page = await open();
        await addFixture(page);
        await page.clearState(801, 3);
        assert.deepEqual(await texts(page, ['k3', 'k4', 'k5', 'key_801_3', 'key_800_3']), ['', 'old', 'old', ' ', 'old']);
        await page.clearState(803, 5);
        assert.deepEqual(await texts(page, ['k3', 'k4', 'k5', 'key_803_5']), ['', 'old', '', ' ']);
        await page.clearState(802, 6);
        await page.clearState(802, 7);
        assert.deepEqual(await texts(page, ['k4', 'key_802_6', 'key_802_7', 'key_802_3']), ['old', ' ', ' ', 'old']);
        // other items: nothing
        await page.setState(800, 2, 'X');
        for (const item of [0, 1, 8, 9]) await page.clearState(800, item);
        assert.deepEqual(await texts(page, ['k4', 'key_800_4', 'usbkeysn']), ['old', 'old', ' USBKey(华虹)  序列号：X ;']);
    });
});

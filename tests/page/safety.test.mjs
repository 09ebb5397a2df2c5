// Texts from outside the page (the system, the bank's document, the token
// libraries) must show as text: markup in them creates no element and runs
// no script in a page that can command an elevated process.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { withPage } from './harness.mjs';

const open = withPage();

const evil = '<img src=x onerror="window.__ran=1"><script>window.__ran=2</script><b>x</b>&amp;';

// [what, reports, selector, text shown]
const cases = [
    ['system description', [[1, 1, evil]], '.c1', evil],
    ['system description with a name in it', [[1, 1, `Windows 7 ${evil}`]], '.c1', 'Windows 7'],
    ['browser version', [[1, 8, evil]], '.c8', evil],
    ['DNS label', [[1, 6, evil]], '.c6', `正常（${evil}）`],
    ['USB-key serial', [[801, 2, evil]], '#usbkeysn', ` USBKey(天诚)  序列号：${evil} ;`],
    ['certificate count', [[800, 6, evil]], '#key_800_6', `${evil}个`],
    ['driver version', [[802, 8, evil]], '#k5', `当前驱动版本：${evil}`],
    ['component tips and name', [[2, 1, 5, evil, evil]], '.i1', '未安装'],
    ['a text where a code belongs', [[0, 2, evil], [0, 3, evil], [2, 2, evil], [1, 3, evil]], '.c3', '不正常'],
];

async function census(page) {
    return page.page.evaluate(() => ({
        // the buttons a failure report adds are the page's own
        elements: document.querySelectorAll('*:not(a.sbtn)').length,
        images: document.images.length,
        scripts: document.scripts.length,
        bold: document.getElementsByTagName('b').length,
        ran: window.__ran ?? null,
    }));
}

describe('outside texts show as text', () => {
    for (const [what, reports, selector, shown] of cases) {
        test(what, async () => {
            const page = await open();
            await page.page.evaluate(() => {
                const box = document.createElement('div');
                box.innerHTML = '<span id="key_800_6"></span><span id="k5"></span>';
                document.body.appendChild(box);
            });
            const before = await census(page);
            await page.report(reports);
            assert.equal(await page.text(selector), shown);
            // an onerror would have had its chance by the time a fresh image
            // of the same missing file has failed to load
            await page.page.evaluate(() => new Promise((resolve) => {
                const probe = new Image();
                probe.onerror = probe.onload = resolve;
                probe.src = 'x';
            }));
            assert.deepEqual(await census(page), before);
        });
    }

    test('ids built from the caller\'s numbers are not selectors', async () => {
        const page = await open();
        const before = await census(page);
        await page.clearState('<img src=x onerror="window.__ran=3">', 3);
        await page.clearState('#usbkeysn, .c1', 6);
        await page.setState('<img src=x onerror="window.__ran=4">', 2, 'S');
        assert.deepEqual(await census(page), before);
        assert.equal(await page.text('.c1'), '');
    });
});

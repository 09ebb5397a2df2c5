// Category 0: the progress bar, the status text and the verdict.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { withPage } from './harness.mjs';

const open = withPage();

const barWidth = (page) => page.page.evaluate(() => document.querySelector('.progress .pc').offsetWidth);

describe('start of the page', () => {
    test('reads "正在获取配置" with the bar at its minimal width and no verdict', async () => {
        const page = await open();
        assert.equal(await page.text('.status_check'), '正在获取配置');
        assert.equal(await barWidth(page), 2);
        assert.equal(await page.text('.status_result'), '');
        assert.deepEqual(await page.takeCalls(), []);
    });
});

describe('progress (items 0 and 1 drive the same bar)', () => {
    // value → width in px: value × 2.33, 100 filling the 233 px in the frame
    const cases = [
        [0, 0], [9, 21], [50, 117], [54, 126], [100, 233],
        // out of range: kept inside the frame instead of spilling over it
        [101, 233], [250, 233], [-5, 0],
    ];
    for (const item of [0, 1]) {
        test(`item ${item}`, async () => {
            const page = await open();
            for (const [value, width] of cases) {
                await page.setState(0, item, value);
                assert.equal(await barWidth(page), width, `setState(0, ${item}, ${value})`);
            }
        });
    }

    test('a download after the sequence moves the same bar back', async () => {
        const page = await open();
        await page.setState(0, 0, 100);
        await page.setState(0, 1, 20);
        assert.equal(await barWidth(page), 47);
        // and a value that is no number leaves it
        await page.setState(0, 1, 'abc');
        assert.equal(await barWidth(page), 47);
    });
});

describe('status text (item 2)', () => {
    const texts = {
        1: '安装完毕', 2: '正在下载', 3: '正在安装', 4: '正在获取配置',
        1002: '正在检测注册表', 1003: '正在检测Host文件', 1004: '正在检测根证书',
        1005: '正在检测网络连接', 1006: '正在检测DNS设置', 1007: '正在检测网银服务',
        1009: '正在检测主页设置', 1010: '正在检测安全级别设置', 1011: '正在检测可信站点',
        1013: '正在检测网络代理设置', 1999: '检测完毕',
        2002: '正在修复注册表', 2003: '正在修复Host文件', 2004: '正在修复根证书',
        2005: '正在修复网络连接', 2006: '正在修复DNS设置', 2007: '正在修复网银服务',
        2009: '正在修复主页设置', 2010: '正在修复安全级别设置', 2011: '正在修复可信站点',
        2013: '正在修复网络代理设置', 2999: '设置完毕',
    };

    test('every code shows its text', async () => {
        const page = await open();
        for (const [code, text] of Object.entries(texts)) {
            await page.setState(0, 2, Number(code));
            assert.equal(await page.text('.status_check'), text, `code ${code}`);
        }
    });

    test('a code without a text leaves the previous one', async () => {
        const page = await open();
        await page.setState(0, 2, 1003);
        for (const code of [1000, 2012, 1008, 0, 5, 2000, 9999, -1, 'constructor', 'toString']) {
            await page.setState(0, 2, code);
            assert.equal(await page.text('.status_check'), '正在检测Host文件', `code ${code}`);
        }
    });

    test('the sequence as the dialog sends it ends on "检测完毕"', async () => {
        const page = await open();
        const seen = [];
        const steps = [[0, 1000], [9, 1002], [18, 1003], [27, 1004], [36, 1005], [45, 1006],
            [54, 1007], [63, 1013], [72, 1009], [81, 1010], [90, 1011], [100, 1999]];
        await page.setState(0, 0, 0);
        for (const [progress, code] of steps) {
            await page.setState(0, 0, progress);
            await page.setState(0, 2, code);
            seen.push(await page.text('.status_check'));
        }
        assert.deepEqual(seen, ['正在获取配置', '正在检测注册表', '正在检测Host文件', '正在检测根证书',
            '正在检测网络连接', '正在检测DNS设置', '正在检测网银服务', '正在检测网络代理设置',
            '正在检测主页设置', '正在检测安全级别设置', '正在检测可信站点', '检测完毕']);
        assert.equal(await barWidth(page), 233);
    });
});

describe('verdict (item 3)', () => {
    const good = '恭喜您，您的电脑已达到使用Lunmar网上银行的最优环境配置，可以放心使用！点击“登录”网上银行';
    const bad = '您的电脑未达到使用我行网银的要求，请点击“一键设置”修复。';

    test('0 is blue with the link "登录" (bold, hand cursor)', async () => {
        const page = await open();
        await page.setState(0, 3, 0);
        const look = await page.look('.status_result');
        assert.equal(look.text, good);
        assert.ok(look.blue && !look.yellow);
        assert.equal(look.color, 'rgb(0, 51, 153)');
        const link = await page.page.evaluate(() => {
            const a = document.getElementById('onOpen');
            const s = getComputedStyle(a);
            return { tag: a.tagName, text: a.textContent, children: a.children.length,
                inVerdict: a.parentNode.className, bold: Number(s.fontWeight) >= 700, cursor: s.cursor };
        });
        assert.deepEqual(link, { tag: 'A', text: '登录', children: 0, inVerdict: 'status_result co-blue',
            bold: true, cursor: 'pointer' });
    });

    for (const value of [1, 2, 3]) {
        test(`${value} is the yellow request to use "一键设置"`, async () => {
            const page = await open();
            await page.setState(0, 3, value);
            const look = await page.look('.status_result');
            assert.equal(look.text, bad);
            assert.ok(look.yellow && !look.blue);
            assert.equal(look.color, 'rgb(250, 94, 0)');
        });
    }

    test('each verdict replaces the last: one link at most, one colour', async () => {
        const page = await open();
        for (const [value, text, blue] of [[0, good, true], [0, good, true], [3, bad, false], [0, good, true], [1, bad, false]]) {
            await page.setState(0, 3, value);
            const look = await page.look('.status_result');
            assert.equal(look.text, text);
            assert.deepEqual([look.blue, look.yellow], [blue, !blue]);
            const links = await page.page.evaluate(() => document.querySelectorAll('#onOpen').length);
            assert.equal(links, blue ? 1 : 0);
        }
    });

    test('clicking "登录" is left to the dialog: the page calls nothing and stays', async () => {
        const page = await open();
        await page.setState(0, 3, 0);
        const url = page.page.url();
        await page.click('#onOpen');
        assert.deepEqual(await page.takeCalls(), []);
        assert.equal(page.page.url(), url);
    });
});

// Opens the page the way the dialog shows it: the very file the resource
// script embeds as HTML resource 104, loaded from disk so that its relative
// references resolve to the neighbouring files as they resolve to the
// module's resources on Windows, in a window of the dialog's size, with a
// window.external that records every call instead of a dialog behind it.
import { after, before, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, mkdirSync } from 'node:fs';
import { join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

export const root = fileURLToPath(new URL('../../', import.meta.url));
export const resDir = join(root, 'app/res');
export const rcPath = join(resDir, 'page.rc');
export const screenshotDir = join(root, 'build/reports/page-screenshots');

// Resource entries of page.rc: { name, type, file } with file absolute.
export function rcEntries() {
    const entries = [];
    for (const line of readFileSync(rcPath, 'utf8').split('\n')) {
        const m = /^\s*(\S+)\s+(\S+)\s+"([^"]+)"\s*$/.exec(line);
        if (m && !line.trim().startsWith('//')) {
            entries.push({ name: m[1], type: m[2], file: join(resDir, m[3]) });
        }
    }
    return entries;
}

export const pagePath = rcEntries().find((e) => e.name === '104' && e.type === 'HTML').file;
export const pageUrl = pathToFileURL(pagePath).href;

const EXTERNAL_METHODS = ['install', 'installcom', 'installmulti', 'fix', 'check', 'installandfix', 'stop'];

function installRecorder(methods) {
    const calls = [];
    const external = {};
    for (const name of methods) {
        external[name] = function (...args) {
            calls.push([name, ...args]);
        };
    }
    Object.defineProperty(window, 'external', { value: external, configurable: true, writable: true });
    Object.defineProperty(window, '__externalCalls', { value: calls });
}

let browser;

// One browser per test file; each test gets a fresh page through openPage().
export function useBrowser() {
    before(async () => {
        browser = await chromium.launch({
            executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
            args: ['--no-sandbox'],
        });
    });
    after(async () => {
        await browser?.close();
    });
}

export async function openPage() {
    const context = await browser.newContext({ viewport: { width: 836, height: 592 } });
    const page = await context.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    await context.addInitScript(installRecorder, EXTERNAL_METHODS);
    await page.goto(pageUrl);
    await page.waitForFunction(() => window.jQuery && jQuery.isReady);
    return new PageDriver(page, context, errors);
}

export class PageDriver {
    constructor(page, context, errors) {
        this.page = page;
        this.context = context;
        this.errors = errors;
    }

    async close() {
        await this.context.close();
    }

    // Calls as the native side makes them: setState(0, 2, 1002) ...
    async setState(...args) {
        await this.page.evaluate((a) => window.setState(...a), args);
    }

    async clearState(...args) {
        await this.page.evaluate((a) => window.clearState(...a), args);
    }

    // Runs a list of [category, item, value] reports in order.
    async report(list) {
        await this.page.evaluate((l) => l.forEach((a) => window.setState(...a)), list);
    }

    async text(selector) {
        return this.page.evaluate((s) => {
            const el = document.querySelector(s);
            return el ? el.textContent : null;
        }, selector);
    }

    // What the user sees of one element: text, colour class, visibility.
    async look(selector) {
        return this.page.evaluate((s) => {
            const el = document.querySelector(s);
            if (!el) return null;
            return {
                text: el.textContent,
                blue: el.classList.contains('co-blue'),
                yellow: el.classList.contains('co-yellow'),
                color: getComputedStyle(el).color,
                visible: el.getClientRects().length > 0 && getComputedStyle(el).visibility !== 'hidden',
            };
        }, selector);
    }

    // Texts of the buttons inside an element (a row's button cell).
    async buttons(selector) {
        return this.page.evaluate(
            (s) => Array.from(document.querySelectorAll(s + ' a')).map((a) => a.textContent),
            selector,
        );
    }

    // The external calls made since the last time they were taken.
    async takeCalls() {
        return this.page.evaluate(() => window.__externalCalls.splice(0));
    }

    async click(selector) {
        await this.page.click(selector);
    }

    async screenshot(name) {
        mkdirSync(screenshotDir, { recursive: true });
        const path = join(screenshotDir, `${name}.png`);
        await this.page.screenshot({ path });
        return path;
    }
}

// A fresh page for each test, closed after it; a script error on the page
// fails the test that caused it.
export function withPage() {
    const holder = {};
    useBrowser();
    afterEach(async () => {
        const errors = holder.page ? holder.page.errors : [];
        await holder.page?.close();
        holder.page = null;
        assert.deepEqual(errors, [], 'script errors on the page');
    });
    return async () => {
        holder.page = await openPage();
        return holder.page;
    };
}


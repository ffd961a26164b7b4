// Logs in to the web server in Debian's headless Chromium: with the one-time secret, with a system
// account answered by pam_matrix, refused with a wrong password; a second login sends the first
// browser back to the login page; the login page loads its style sheet and images without errors.
//   node browser-login.js SERVER_PROGRAM ANSWERS_DIR NODE_MODULES_DIR
'use strict';

const assert = require('assert');
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');
const { spawn, execFileSync } = require('child_process');

const [serverProgram, answersDir, nodeModules] = process.argv.slice(2);
const { chromium } = require(path.resolve(nodeModules, 'playwright-core'));

const secret = 'zyxwvutsrqponmlkjihgfedcbazy';
const password = 'Browser-Pass-1';
const pamMatrix = '/usr/lib/x86_64-linux-gnu/pam_wrapper/pam_matrix.so';

function freePort() {
    return new Promise((resolve) => {
        const probe = net.createServer();
        probe.listen(0, '127.0.0.1', () => {
            const port = probe.address().port;
            probe.close(() => resolve(port));
        });
    });
}

async function waitForPort(port) {
    for (let i = 0; i < 100; ++i) {
        const open = await new Promise((resolve) => {
            const socket = net.connect(port, '127.0.0.1', () => { socket.end(); resolve(true); });
            socket.on('error', () => resolve(false));
        });
        if (open)
            return;
        await new Promise((resolve) => setTimeout(resolve, 50));
    }
    throw new Error('the web server did not start');
}

// PAM services that only know the current user with the test's password.
function pamServiceDir(work) {
    const user = os.userInfo().username;
    const service = fs.existsSync('/etc/pam.d/system-auth') ? 'system-auth'
        : fs.existsSync('/etc/pam.d/common-auth') ? 'common-auth' : 'other';
    const passdb = path.join(work, 'passdb');
    fs.writeFileSync(passdb, `${user}:${password}:${service}\n`);
    const dir = path.join(work, 'pam.d');
    fs.mkdirSync(dir);
    const rules = `auth required ${pamMatrix} passdb=${passdb}\naccount required ${pamMatrix} passdb=${passdb}\n`;
    for (const name of ['system-auth', 'common-auth', 'other'])
        fs.writeFileSync(path.join(dir, name), rules);
    return dir;
}

async function newPage(browser, errors) {
    const context = await browser.newContext();
    const page = await context.newPage();
    page.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
    page.on('pageerror', (error) => errors.push(error.message));
    return page;
}

async function isLoginPage(page) {
    return (await page.locator('input[name="password"]').count()) === 1;
}

async function main() {
    const work = fs.mkdtempSync(path.join(os.tmpdir(), 'moxel-browser-'));
    const port = await freePort();
    const base = `http://127.0.0.1:${port}`;
    const server = spawn(serverProgram, [String(port), answersDir, path.join(work, 'commands')], {
        stdio: ['ignore', 'ignore', 'inherit'],
        env: Object.assign({}, process.env, {
            WEB_SECRET: secret,
            LD_PRELOAD: 'libpam_wrapper.so',
            PAM_WRAPPER: '1',
            PAM_WRAPPER_SERVICE_DIR: pamServiceDir(work),
            ASAN_OPTIONS: 'verify_asan_link_order=0',
        }),
    });
    let browser = null;
    try {
        // Playwright gives the browser a fresh profile directory of its own.
        browser = await chromium.launch({
            executablePath: '/usr/bin/chromium',
            args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                '--disable-background-networking', '--disable-component-update', '--disable-sync'],
        });
        await waitForPort(port);
        const errors = [];

        // The login page with its style sheet and images.
        const visitor = await newPage(browser, errors);
        await visitor.goto(`${base}/summary.html`);
        assert(await isLoginPage(visitor), 'a page without session shows the login form');
        assert.strictEqual(await visitor.inputValue('input[name="login"]'), os.userInfo().username);
        const styled = await visitor.evaluate(() => getComputedStyle(document.body).backgroundColor);
        assert.strictEqual(styled, 'rgb(238, 241, 245)', 'the style sheet applies');
        for (const image of ['header_login_bg.png', 'company_logo.png', 'indicator.gif', 'installed.png']) {
            const size = await visitor.evaluate((src) => new Promise((resolve) => {
                const img = new Image();
                img.onload = () => resolve([img.naturalWidth, img.naturalHeight]);
                img.onerror = () => resolve(null);
                img.src = src;
            }), `/images/${image}`);
            assert(size && size[0] > 0, `${image} decodes`);
        }

        // A wrong password is refused with the error block and an empty password field.
        await visitor.goto(`${base}/`);
        await visitor.fill('input[name="password"]', 'wrong');
        await Promise.all([visitor.waitForLoadState('load'), visitor.click('#login_submit')]);
        await visitor.waitForSelector('.msg-error');
        assert(await isLoginPage(visitor), 'a wrong password keeps the login page');
        assert.strictEqual(await visitor.inputValue('input[name="password"]'), '');

        // The right password, after the pause that follows a failure.
        await new Promise((resolve) => setTimeout(resolve, 2100));
        await visitor.fill('input[name="password"]', password);
        await visitor.click('#login_submit');
        await visitor.waitForURL(`${base}/summary.html`, { waitUntil: 'load' });
        assert(!(await isLoginPage(visitor)), 'the account logs in');

        // The one-time secret logs a second browser in once; the first is logged out by it.
        const second = await newPage(browser, errors);
        await second.goto(`${base}/?secret=${secret}`);
        await second.waitForURL(`${base}/summary.html`, { waitUntil: 'load' });
        assert(!(await isLoginPage(second)), 'the secret logs in');
        await visitor.goto(`${base}/`);
        assert(await isLoginPage(visitor), 'the second login logs the first browser out');
        const third = await newPage(browser, errors);
        await third.goto(`${base}/?secret=${secret}`);
        assert(await isLoginPage(third), 'the secret works once');

        // Choosing another language re-renders the form in it and keeps the login.
        await third.fill('input[name="login"]', 'someone');
        await Promise.all([third.waitForNavigation(), third.selectOption('select[name="login_locale"]', 'de_DE')]);
        assert.strictEqual(await third.inputValue('select[name="login_locale"]'), 'de_DE');
        assert.strictEqual(await third.inputValue('input[name="login"]'), 'someone');
        assert.strictEqual(await third.locator('.msg-error').count(), 0);

        assert.deepStrictEqual(errors.filter((text) => !text.includes('404')), [], 'no script errors');
        console.log('browser login tests passed');
    } finally {
        if (browser)
            await browser.close();
        server.kill('SIGTERM');
        fs.rmSync(work, { recursive: true, force: true });
    }
}

main().catch((error) => {
    console.error(error);
    process.exit(1);
});

// The page's figures, side by side with the native show's, in one run: what the page downloads (raw and
// gzip), the time from loading the page to its first frame, frames per second of the whole show live in
// headless Chromium at 640 x 480 beside the native show under Xvfb at 640 x 480, and an in-page capture
// beside the native one. Prints them; asserts nothing.
//
//   scripts/build-web.sh && node bench/web_figures.mjs [--loads N] [--no-live] [--no-capture]
//
// Needs build-web/ (NARVU_WEB_SITE), the native show in build/ (NARVU_NATIVE_BUILD), xvfb-run, and
// tests/web's node_modules (scripts/test-web.sh installs them). The live runs take the show's length
// each (about 110 s, three of them).
import {execFile} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {promisify} from 'node:util';
import zlib from 'node:zlib';

import {openPage, startChromium, startServer, startShow} from '../tests/web/browser.mjs';

const kSource = path.resolve(path.dirname(new URL(import.meta.url).pathname), '..');
const kSite = process.env.NARVU_WEB_SITE || path.join(kSource, 'build-web');
const kNative = process.env.NARVU_NATIVE_BUILD || path.join(kSource, 'build');
const run = promisify(execFile);
const words = process.argv.slice(2);
const loads = words.includes('--loads') ? Number(words[words.indexOf('--loads') + 1]) : 3;

const megabytes = (bytes) => (bytes / 1e6).toFixed(3).padStart(6);
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

function downloadSizes() {
  console.log('download (gzip: level 6, as web servers compress)');
  let raw = 0, packed = 0;
  for (const name of ['narvu.wasm', 'narvu.js', 'narvu.dat', 'index.html', 'narvu-page.js', 'narvu-audio.js']) {
    const bytes = fs.readFileSync(path.join(kSite, name));
    const gzip = zlib.gzipSync(bytes, {level: 6}).length;
    raw += bytes.length;
    packed += gzip;
    console.log(`  ${name.padEnd(16)} ${megabytes(bytes.length)} MB raw  ${megabytes(gzip)} MB gzip`);
  }
  console.log(`  ${'everything'.padEnd(16)} ${megabytes(raw)} MB raw  ${megabytes(packed)} MB gzip`);
}

// Page load to first frame, the click made as soon as Start can be pressed, on a fresh profile each time.
async function firstFrames(server) {
  const times = [];
  for (let i = 0; i < loads; ++i) {
    const chromium = await startChromium();
    const page = await openPage(chromium.browser, `${server.url}/index.html?nosound`, 640, 480);
    await startShow(page);
    await page.waitForFunction(() => narvu.times.firstFrame !== undefined, {timeout: 120000});
    times.push(await page.evaluate(() => narvu.times));
    await chromium.close();
  }
  const show = (key) => `${median(times.map((t) => t[key])).toFixed(0).padStart(5)} ms`;
  console.log(`page load to first frame (median of ${loads}, from 127.0.0.1; the click as soon as Start is ready)`);
  console.log(`  downloaded ${show('downloaded')}, Start clicked ${show('started')}, first frame ${show('firstFrame')}`);
}

// The whole show with --timedemo in the page; its report's first line.
async function pageTimedemo(server, query) {
  const chromium = await startChromium();
  const page = await openPage(chromium.browser, `${server.url}/index.html?${query}`, 640, 480);
  page.setDefaultTimeout(0);
  await startShow(page);
  await page.evaluate(() => narvu.done);
  await chromium.close();
  return page.said.map((line) => line.text).filter((text) => /^timedemo:|^  whole show/.test(text));
}

async function nativeTimedemo() {
  const {stdout} = await run('xvfb-run', ['-a', '-s', '-screen 0 640x480x24', path.join(kNative, 'narvu'), 'nosound',
                                          '--timedemo'], {env: {...process.env, SDL_VIDEODRIVER: ''}});
  return stdout.split('\n').filter((text) => /^timedemo:|^  whole show/.test(text));
}

async function live(server) {
  console.log('live, the whole show, nosound, 640 x 480 (--timedemo)');
  const report = (label, lines) => console.log(`  ${label}\n    ${lines.join('\n    ')}`);
  report('native under Xvfb', await nativeTimedemo());
  report('headless Chromium, the browser\'s frames (vsync)', await pageTimedemo(server, 'nosound&--timedemo'));
  report('headless Chromium, --vsync off', await pageTimedemo(server, 'nosound&--timedemo&--vsync=off'));
}

// 15 to 17 s at 25 frames a second: the seconds from the click to the exit code, beside the native run.
async function capture(server) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'narvu-figures-'));
  const arguments_ = ['--capture', folder, '--fps', '25', '--from', '15', '--to', '17'];
  let start = performance.now();
  await run(path.join(kNative, 'narvu'), arguments_, {env: {...process.env, SDL_VIDEODRIVER: 'offscreen'}});
  const native = (performance.now() - start) / 1000;
  fs.rmSync(folder, {recursive: true, force: true});
  const chromium = await startChromium();
  const page = await openPage(chromium.browser, `${server.url}/index.html?--capture=cap&--fps=25&--from=15&--to=17`,
                              640, 480);
  await page.waitForFunction(() => !document.getElementById('start').disabled);
  start = performance.now();
  await startShow(page);
  await page.evaluate(() => narvu.done);
  const inPage = (performance.now() - start) / 1000;
  await chromium.close();
  console.log('capture of 15 to 17 s at 25 frames a second (51 frames), start to exit');
  console.log(`  native ${native.toFixed(1)} s, in the page ${inPage.toFixed(1)} s: ${(inPage / native).toFixed(1)} x`);
}

const server = await startServer(kSite);
try {
  downloadSizes();
  await firstFrames(server);
  if (!words.includes('--no-capture')) await capture(server);
  if (!words.includes('--no-live')) await live(server);
} finally {
  server.stop();
}

// The page's figures, side by side with the native show's, in one run: what the page downloads (raw and
// gzip, beside another build of the page when asked), the times from loading the page to its first
// frame and from Start to it, the music's underruns at the start and after Play again, frames per
// second of the whole show live in headless Chromium at 640 x 480 beside the native show under Xvfb at
// 640 x 480 (and the longest frame after the first against the median), and an in-page capture beside
// the native one. Prints them; asserts nothing.
//
//   scripts/build-web.sh && node bench/web_figures.mjs [--loads N] [--rounds N] [--against DIR]
//                                                      [--no-loads] [--no-live] [--no-capture]
//
// Needs build-web/ (NARVU_WEB_SITE), the native show in build/ (NARVU_NATIVE_BUILD), xvfb-run, and
// tests/web's node_modules (scripts/test-web.sh installs them). --against DIR: another build's site
// (a copy of build-web/ from before a change) whose download is printed beside this one's, and whose
// page plays the whole show live in each round too. Each round of the live runs takes the show's length
// three times (about 110 s each: native, page, page without vsync; four with --against), native and
// page taking turns.
import {execFile} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {promisify} from 'node:util';
import zlib from 'node:zlib';

import {openPage, siteFiles, startChromium, startServer, startShow} from '../tests/web/browser.mjs';

const kSource = path.resolve(path.dirname(new URL(import.meta.url).pathname), '..');
const kSite = process.env.NARVU_WEB_SITE || path.join(kSource, 'build-web');
const kNative = process.env.NARVU_NATIVE_BUILD || path.join(kSource, 'build');
const run = promisify(execFile);
const words = process.argv.slice(2);
const option = (name, fallback) => (words.includes(name) ? words[words.indexOf(name) + 1] : fallback);
const loads = Number(option('--loads', 3));
const rounds = Number(option('--rounds', 1));
const against = option('--against', null);

const megabytes = (bytes) => (bytes / 1e6).toFixed(3).padStart(6);
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const pause = (milliseconds) => new Promise((resolve) => setTimeout(resolve, milliseconds));

// What a visitor downloads from `folder`: index.html and the files it names (a site of versioned
// names), or every file there (a site from before them). {raw, gzip, files: [[name, raw, gzip]]}.
function download(folder) {
  let names;
  try {
    names = ['index.html', ...Object.values(siteFiles(folder)).map((file) => file.name)];
  } catch {
    names = fs.readdirSync(folder).filter((name) => fs.statSync(path.join(folder, name)).isFile());
  }
  const files = names.map((name) => {
    const bytes = fs.readFileSync(path.join(folder, name));
    return [name, bytes.length, zlib.gzipSync(bytes, {level: 6}).length];
  });
  return {raw: files.reduce((sum, file) => sum + file[1], 0), gzip: files.reduce((sum, file) => sum + file[2], 0), files};
}

function downloadSizes() {
  console.log('download (gzip: level 6, as web servers compress)');
  const now = download(kSite);
  for (const [name, raw, gzip] of now.files)
    console.log(`  ${name.padEnd(32)} ${megabytes(raw)} MB raw  ${megabytes(gzip)} MB gzip`);
  console.log(`  ${'everything'.padEnd(32)} ${megabytes(now.raw)} MB raw  ${megabytes(now.gzip)} MB gzip`);
  if (against) {
    const before = download(against);
    console.log(`  ${`against ${against}`.padEnd(32)} ${megabytes(before.raw)} MB raw  ${megabytes(before.gzip)} MB gzip: ` +
                `${((100 * now.raw) / before.raw - 100).toFixed(1)} % raw, ${((100 * now.gzip) / before.gzip - 100).toFixed(1)} % gzip`);
  }
}

// Page load to first frame, the click made as soon as Start can be pressed, on a fresh profile each
// time, with the music; its underruns over the first five seconds, then the same after Play again.
async function firstFrames(server) {
  const times = [], again = [];
  for (let i = 0; i < loads; ++i) {
    const chromium = await startChromium();
    const page = await openPage(chromium.browser, `${server.url}/index.html`, 640, 480);
    await startShow(page);
    await page.waitForFunction(() => narvu.times.firstFrame !== undefined, {timeout: 120000});
    await pause(5000);
    times.push(await page.evaluate(() => ({...narvu.times, underruns: narvu.sound.underruns})));
    await page.keyboard.press('Escape');
    await page.evaluate(() => narvu.done);
    const clicked = await page.evaluate(() => {
      document.getElementById('again').click();
      return performance.now();
    });
    await page.waitForFunction(() => narvu.times.firstFrame !== undefined, {timeout: 120000});
    await pause(5000);
    again.push(await page.evaluate((at) => ({started: at, firstFrame: narvu.times.firstFrame,
                                             underruns: narvu.sound.underruns}), clicked));
    await chromium.close();
  }
  const show = (list, key) => `${median(list.map((t) => t[key])).toFixed(0).padStart(5)} ms`;
  const after = (list) => `${median(list.map((t) => t.firstFrame - t.started)).toFixed(0).padStart(5)} ms`;
  const underruns = (list) => list.map((t) => t.underruns).join(', ');
  console.log(`page load to first frame (median of ${loads}, from 127.0.0.1, with the music; Start clicked as soon ` +
              'as it can be)');
  console.log(`  downloaded ${show(times, 'downloaded')}, compiled ${show(times, 'compiled')}, Start clicked ` +
              `${show(times, 'started')}, first frame ${show(times, 'firstFrame')}: ${after(times)} after Start`);
  console.log(`  the music's underruns in its first 5 s: ${underruns(times)}`);
  console.log(`  Play again: first frame ${after(again)} after the click; underruns in its first 5 s: ${underruns(again)}`);
}

const kReportLines = /^timedemo:|^  whole show|^  first frame|^  long frames/;

// The whole show with --timedemo in the page; its report's lines.
async function pageTimedemo(server, query) {
  const chromium = await startChromium();
  const page = await openPage(chromium.browser, `${server.url}/index.html?${query}`, 640, 480);
  page.setDefaultTimeout(0);
  await startShow(page);
  await page.evaluate(() => narvu.done);
  await chromium.close();
  return page.said.map((line) => line.text).filter((text) => kReportLines.test(text));
}

async function nativeTimedemo() {
  const {stdout} = await run('xvfb-run', ['-a', '-s', '-screen 0 640x480x24', path.join(kNative, 'narvu'), 'nosound',
                                          '--timedemo'], {env: {...process.env, SDL_VIDEODRIVER: ''}});
  return stdout.split('\n').filter((text) => kReportLines.test(text));
}

const framesPerSecond = (lines) => Number((/([\d.]+) frames\/s/.exec(lines[0] || '') || [])[1]);

// With --against, the other build's page plays too in each round, just before this one's.
async function live(server, other) {
  console.log('live, the whole show, nosound, 640 x 480 (--timedemo)');
  const report = (label, lines) => console.log(`  ${label}\n    ${lines.join('\n    ')}`);
  for (let round = 1; round <= rounds; ++round) {
    if (rounds > 1) console.log(` round ${round} of ${rounds}`);
    const native = await nativeTimedemo();
    report('native under Xvfb', native);
    const before = other && (await pageTimedemo(other, 'nosound&--timedemo'));
    if (before) report(`the page of ${against} (vsync)`, before);
    const page = await pageTimedemo(server, 'nosound&--timedemo');
    report('headless Chromium, the browser\'s frames (vsync)', page);
    console.log(`  page / native frame rate: ${(framesPerSecond(page) / framesPerSecond(native)).toFixed(2)}`);
    if (before) {
      console.log(`  the other page / native: ${(framesPerSecond(before) / framesPerSecond(native)).toFixed(2)}; ` +
                  `page / the other page: ${(framesPerSecond(page) / framesPerSecond(before)).toFixed(2)}`);
    }
    report('headless Chromium, --vsync off', await pageTimedemo(server, 'nosound&--timedemo&--vsync=off'));
  }
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
const other = against && !words.includes('--no-live') ? await startServer(against) : null;
try {
  downloadSizes();
  if (!words.includes('--no-loads')) await firstFrames(server);
  if (!words.includes('--no-capture')) await capture(server);
  if (!words.includes('--no-live')) await live(server, other);
} finally {
  server.stop();
  if (other) other.stop();
}

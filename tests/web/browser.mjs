// What the page's tests and figures share: the site's files, a static web server for build-web/ and
// headless Chromium on 127.0.0.1, both started here and stopped by their process, PNG decoding, and
// picture comparison.
//
// Chromium is the system's (/usr/bin/chromium, or NARVU_CHROMIUM), driven by puppeteer-core; nothing is
// downloaded. WebGL 2 runs on SwiftShader, Web Audio without a sound card.
import {spawn} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import puppeteer from 'puppeteer-core';

export const kChromium = process.env.NARVU_CHROMIUM || '/usr/bin/chromium';

// The site's files as its index.html names them (web/site.cmake): {key: {name, bytes}}, the keys show,
// wasm, pack, poster, page, controls and audio.
export function siteFiles(folder) {
  const page = fs.readFileSync(path.join(folder, 'index.html'), 'utf8');
  const found = /<script type="application\/json" id="narvu-files">([^<]*)<\/script>/.exec(page);
  if (!found) throw new Error(`${folder}/index.html names no files`);
  return JSON.parse(found[1]);
}

// A static server for `folder` on 127.0.0.1, on a port the system picks: {url, stop()}.
export async function startServer(folder) {
  const server = spawn('python3', ['-u', '-m', 'http.server', '0', '--bind', '127.0.0.1', '--directory', folder],
                       {stdio: ['ignore', 'pipe', 'pipe']});
  const port = await new Promise((resolve, reject) => {
    let said = '';
    server.stdout.on('data', (data) => {
      said += data;
      const found = said.match(/port (\d+)/);
      if (found) resolve(Number(found[1]));
    });
    server.on('exit', (code) => reject(new Error(`the web server ended (${code}) before it served: ${said}`)));
    setTimeout(() => reject(new Error('the web server did not start within 10 s')), 10000);
  });
  return {
    url: `http://127.0.0.1:${port}`,
    stop: () => server.kill('SIGTERM'),
  };
}

// Headless Chromium with a profile of its own, removed when it closes: {browser, close()}. `extra`: more
// of Chromium's switches.
export async function startChromium(extra = []) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'narvu-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: kChromium,
    headless: true,
    userDataDir: profile,
    args: ['--headless=new', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
           '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run',
           '--disable-quic', ...extra],
  });
  return {
    browser,
    async close() {
      await browser.close();
      fs.rmSync(profile, {recursive: true, force: true});
    },
  };
}

// A new page that keeps everything its console said, and every uncaught exception, in `said`.
export async function openPage(browser, url, width, height) {
  const page = await browser.newPage();
  await page.setViewport({width, height});
  page.said = [];
  page.on('console', (message) => page.said.push({type: message.type(), text: message.text()}));
  page.on('pageerror', (error) => page.said.push({type: 'exception', text: String(error.message || error)}));
  await page.goto(url);
  return page;
}

// Clicks Start once the show is loaded.
export async function startShow(page) {
  await page.waitForFunction(() => !document.getElementById('start').disabled, {timeout: 120000});
  await page.click('#start');
}

// ---- Pictures ---------------------------------------------------------------------------------------

// An 8-bit RGB or RGBA PNG (not interlaced) as {width, height, rgb}: 3 bytes a pixel, rows top down.
export function decodePng(bytes) {
  const buffer = Buffer.from(bytes);
  let width = 0, height = 0, channels = 0;
  const data = [];
  for (let at = 8; at < buffer.length;) {
    const length = buffer.readUInt32BE(at);
    const type = buffer.toString('latin1', at + 4, at + 8);
    const chunk = buffer.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') {
      [width, height] = [chunk.readUInt32BE(0), chunk.readUInt32BE(4)];
      if (chunk[8] !== 8 || chunk[12] !== 0 || (chunk[9] !== 2 && chunk[9] !== 6))
        throw new Error('only 8-bit RGB and RGBA PNG files without interlacing are read here');
      channels = chunk[9] === 6 ? 4 : 3;
    }
    if (type === 'IDAT') data.push(chunk);
    if (type === 'IEND') break;
    at += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(data));
  const stride = width * channels;
  const rgb = new Uint8Array(width * height * 3);
  let above = new Uint8Array(stride);
  let row = new Uint8Array(stride);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; ++x) {
      const left = x >= channels ? row[x - channels] : 0;
      const up = above[x];
      const corner = x >= channels ? above[x - channels] : 0;
      let predicted = 0;
      if (filter === 1) predicted = left;
      else if (filter === 2) predicted = up;
      else if (filter === 3) predicted = (left + up) >> 1;
      else if (filter === 4) {
        const p = left + up - corner;
        const [pa, pb, pc] = [Math.abs(p - left), Math.abs(p - up), Math.abs(p - corner)];
        predicted = pa <= pb && pa <= pc ? left : pb <= pc ? up : corner;
      }
      row[x] = (line[x] + predicted) & 255;
    }
    for (let x = 0; x < width; ++x)
      for (let c = 0; c < 3; ++c) rgb[3 * (y * width + x) + c] = row[channels * x + c];
    [above, row] = [row, above];
  }
  return {width, height, rgb};
}

// How far picture `b` is from `a` (same size): PSNR over every colour value in dB (Infinity when equal),
// and the share of pixels with a colour value off by more than `levels`.
export function comparePictures(a, b, levels = 8) {
  if (a.width !== b.width || a.height !== b.height) throw new Error('pictures of different sizes');
  let squares = 0, off = 0;
  for (let i = 0; i < a.rgb.length; i += 3) {
    let worst = 0;
    for (let c = 0; c < 3; ++c) {
      const d = a.rgb[i + c] - b.rgb[i + c];
      squares += d * d;
      worst = Math.max(worst, Math.abs(d));
    }
    if (worst > levels) off += 1;
  }
  const mse = squares / a.rgb.length;
  return {psnr: mse === 0 ? Infinity : 10 * Math.log10((255 * 255) / mse), offShare: off / (a.rgb.length / 3)};
}

// The bounding box of the pixels brighter than `level` in any colour: {left, top, right, bottom}
// (exclusive), or null for a picture that is black throughout.
export function litBox(picture, level = 4) {
  const {width, height, rgb} = picture;
  let [left, top, right, bottom] = [width, height, 0, 0];
  for (let y = 0; y < height; ++y)
    for (let x = 0; x < width; ++x) {
      const i = 3 * (y * width + x);
      if (rgb[i] > level || rgb[i + 1] > level || rgb[i + 2] > level) {
        left = Math.min(left, x);
        right = Math.max(right, x + 1);
        top = Math.min(top, y);
        bottom = Math.max(bottom, y + 1);
      }
    }
  return right > left ? {left, top, right, bottom} : null;
}

// Runs one injected page script in node against a small fake DOM and checks
// what it does. Usage: node script_harness.js <scenario> <script file> [argument]
// Exit status 0 when every check held; the first failure goes to standard error.
'use strict';
const fs = require('fs');
const vm = require('vm');

function fail(message) {
  process.stderr.write('FAILED: ' + message + '\n');
  process.exit(1);
}
function check(condition, message) { if (!condition) fail(message); }
function describe(v) { return v && v.tagName ? '<' + v.tagName.toLowerCase() + ' id=' + v.id + '>' : JSON.stringify(v); }
function equal(actual, expected, what) {
  if (actual !== expected) fail(what + ': expected ' + describe(expected) + ', got ' + describe(actual));
}

// --- fake browser ------------------------------------------------------------

class Target {
  constructor() { this.listeners = {}; }
  addEventListener(type, fn) { (this.listeners[type] = this.listeners[type] || []).push(fn); }
  dispatch(type, props) {
    const e = Object.assign({ type, defaultPrevented: false, stopped: false, immediateStopped: false }, props);
    e.preventDefault = () => { e.defaultPrevented = true; };
    e.stopPropagation = () => { e.stopped = true; };
    e.stopImmediatePropagation = () => { e.stopped = e.immediateStopped = true; };
    for (const fn of (this.listeners[type] || []).slice()) {
      fn.call(this, e);
      if (e.immediateStopped) break;
    }
    return e;
  }
}

class Element extends Target {
  constructor(doc, tag) {
    super();
    Object.assign(this, { doc, tagName: tag.toUpperCase(), children: [], parentNode: null, style: {}, id: '',
                          className: '', title: '', textContent: '' });
  }
  set innerHTML(html) {
    if (this.doc.trustedTypesEnforced) throw new TypeError('This document requires TrustedHTML assignment');
    // Markup becomes elements, not text; only the text survives here.
    this.textContent = html.replace(/<[^>]*>/g, '').replace(/&#(\d+);/g, (m, n) => String.fromCodePoint(Number(n)));
  }
  get offsetLeft() { return parseInt(this.style.left, 10) || 0; }
  get offsetTop() { return parseInt(this.style.top, 10) || 0; }
  // Laid-out sizes: what a test gives an element, and 8 pixels per character of text.
  get offsetWidth() { return this.width || 0; }
  get offsetHeight() { return this.height || 0; }
  get scrollWidth() { return this.textContent.length * 8; }
  appendChild(child) {
    child.parentNode = this;
    this.children.push(child);
    this.doc.pendingMutation = true;
    return child;
  }
  removeChild(child) {
    this.children = this.children.filter((c) => c !== child);
    child.parentNode = null;
    this.doc.pendingMutation = true;
    return child;
  }
  setAttribute() {}
  click() { return this.dispatch('click'); }
}

class Document extends Target {
  constructor(readyState) {
    super();
    Object.assign(this, { readyState, observers: [], trustedTypesEnforced: false });
    this.documentElement = new Element(this, 'html');
    this.body = this.documentElement.appendChild(new Element(this, 'body'));
  }
  createElement(tag) { return new Element(this, tag); }
  createElementNS(ns, tag) { return new Element(this, tag); }
  allById(id) {
    const out = [];
    const walk = (node) => { if (node.id === id) out.push(node); node.children.forEach(walk); };
    walk(this.documentElement);
    return out;
  }
  getElementById(id) { return this.allById(id)[0] || null; }
  // Mutation observers run after the change, as the browser's microtask does.
  flushObservers() {
    for (let round = 0; this.pendingMutation; ++round) {
      check(round < 20, 'mutation observers keep changing the document');
      this.pendingMutation = false;
      this.observers.forEach((o) => o.callback([], o));
    }
  }
  finishLoading() {
    this.readyState = 'interactive';
    this.dispatch('DOMContentLoaded');
  }
}

function makeBrowser(options = {}) {
  const doc = new Document(options.readyState || 'complete');
  const posted = [];
  const timers = [];
  let now = 0;
  let nextTimer = 1;
  const storage = new Map(Object.entries(options.storage || {}));
  const window = new Target();
  Object.assign(window, {
    window, document: doc, innerWidth: 1024, innerHeight: 768,
    print() { posted.push('native print'); },
    setTimeout(fn, ms) { timers.push({ id: nextTimer, at: now + (ms || 0), fn }); return nextTimer++; },
    clearTimeout(id) { const at = timers.findIndex((t) => t.id === id); if (at >= 0) timers.splice(at, 1); },
    MutationObserver: class {
      constructor(callback) { this.callback = callback; }
      observe(target, init) {
        check((target === doc.documentElement || target === doc) && init.childList && init.subtree,
              'observer watches the whole document');
        doc.observers.push(this);
      }
    },
  });
  if (options.storageThrows) {
    Object.defineProperty(window, 'localStorage', { get() { throw new Error('SecurityError'); } });
  } else {
    window.localStorage = { getItem: (k) => (storage.has(k) ? storage.get(k) : null), setItem: (k, v) => storage.set(k, String(v)) };
  }
  window.top = options.inFrame ? new Target() : window;
  if (options.webview !== false) window.chrome = { webview: { postMessage: (m) => posted.push(m) } };
  const context = vm.createContext(window);
  return {
    window, doc, posted, storage,
    run(source) { vm.runInContext(source, context); },
    advance(ms) {
      const until = now + ms;
      for (;;) {
        timers.sort((a, b) => a.at - b.at || a.id - b.id);
        if (!timers.length || timers[0].at > until) break;
        const timer = timers.shift();
        now = timer.at;
        timer.fn();
      }
      now = until;
    },
  };
}

// Runs the script twice on a document that is still loading: nothing before
// the document is ready, exactly one element with the id after.
function runTwiceUntilReady(source, id, options) {
  const b = makeBrowser(Object.assign({ readyState: 'loading' }, options));
  b.run(source);
  b.run(source);
  equal(b.doc.getElementById(id), null, id + ' before the document is ready');
  b.doc.finishLoading();
  b.doc.flushObservers();
  equal(b.doc.allById(id).length, 1, id + ' count after two runs');
  return b;
}

function putBackAfterRemoval(b, id) {
  b.doc.body.removeChild(b.doc.getElementById(id));
  b.doc.flushObservers();
  equal(b.doc.allById(id).length, 1, id + ' put back after removal');
}

// --- scenarios ---------------------------------------------------------------

const scenarios = {};

scenarios.loader = (source) => {
  const b = runTwiceUntilReady(source, 'kelbro-full-loader');
  const overlay = b.doc.getElementById('kelbro-full-loader');
  check(overlay.children.some((c) => c.textContent === 'جاري التحميل... Loading...'), 'overlay text');
  check(overlay.children.some((c) => c.tagName === 'STYLE' && /@keyframes kelbro-spin/.test(c.textContent)), 'spinner keyframes');
  b.window.dispatch('load');
  equal(overlay.style.opacity, '0', 'overlay fades on load');
  b.advance(499);
  check(overlay.parentNode !== null, 'overlay still fading');
  b.advance(1);
  equal(b.doc.getElementById('kelbro-full-loader'), null, 'overlay removed 500 ms after load');

  // No load event at all: gone 5.5 s after the script ran.
  const quiet = makeBrowser();
  quiet.run(source);
  quiet.advance(5499);
  check(quiet.doc.getElementById('kelbro-full-loader') !== null, 'overlay before 5.5 s');
  quiet.advance(1);
  equal(quiet.doc.getElementById('kelbro-full-loader'), null, 'overlay gone at 5.5 s');

  const bare = makeBrowser();
  bare.doc.documentElement.removeChild(bare.doc.body);
  bare.doc.body = null;
  bare.run(source);
  equal(bare.doc.getElementById('kelbro-full-loader').parentNode, bare.doc.documentElement, 'root without a body');
};

scenarios.printRedirect = (source) => {
  const b = makeBrowser();
  b.run(source);
  b.run(source);
  b.run('window.print();');
  b.run('window.print = function () { window.chrome.webview.postMessage("page print"); }; window.print();');
  b.run('try { Object.defineProperty(window, "print", { value: function () {} }); } catch (e) {} window.print();');
  equal(b.posted.join(), 'requestPrint,requestPrint,requestPrint', 'window.print posts once per call and stays');

  b.posted.length = 0;
  const key = (props) => b.window.dispatch('keydown', props);
  const swallowed = (e) => e.defaultPrevented && e.immediateStopped;
  check(swallowed(key({ ctrlKey: true, key: 'p' })) && swallowed(key({ metaKey: true, key: 'p' })), 'Ctrl/Meta+P');
  equal(b.posted.join(), 'requestPrint,requestPrint', 'Ctrl+P asks the program to print');
  check(swallowed(key({ ctrlKey: true, key: 's' })), 'Ctrl+S is swallowed');
  check(swallowed(key({ ctrlKey: true, shiftKey: true, key: 'S' })), 'Ctrl+Shift+S is swallowed');
  check(!key({ key: 'p' }).defaultPrevented && !key({ ctrlKey: true, key: 'c' }).defaultPrevented, 'other keys work');
  equal(b.posted.length, 2, 'only Ctrl+P posts');
  check(b.window.dispatch('beforeprint').defaultPrevented, 'beforeprint is prevented');

  const offline = makeBrowser({ webview: false });
  offline.run(source);
  offline.run('window.print();');
  equal(offline.posted.length, 0, 'no channel: no message and no error');
};

scenarios.watermark = (source, expectedText) => {
  const b = runTwiceUntilReady(source, 'kelbro-watermark');
  equal(b.doc.getElementById('kelbro-watermark').textContent, expectedText, 'watermark text');
  putBackAfterRemoval(b, 'kelbro-watermark');
  equal(b.doc.getElementById('kelbro-watermark').textContent, expectedText, 'text of the restored watermark');
};

scenarios.printButton = (source) => {
  const b = runTwiceUntilReady(source, 'kelbro-print-btn');
  const btn = b.doc.getElementById('kelbro-print-btn');
  equal(btn.title, 'Print', 'button title');
  equal(btn.textContent, String.fromCodePoint(128424), 'button symbol');
  btn.click();
  equal(b.posted.join(), 'requestPrint', 'click asks the program to print');
  putBackAfterRemoval(b, 'kelbro-print-btn');

  const strict = makeBrowser();
  strict.doc.trustedTypesEnforced = true;
  strict.run(source);
  equal(strict.doc.getElementById('kelbro-print-btn').textContent, String.fromCodePoint(128424), 'symbol without markup');
};

scenarios.navigationBar = (source) => {
  const b = runTwiceUntilReady(source, 'kelbro-nav-container', { storage: { kb_nx: '100', kb_ny: '250' } });
  const bar = b.doc.getElementById('kelbro-nav-container');
  equal(bar.style.left + ' ' + bar.style.top, '100px 250px', 'place from storage');
  equal(bar.children[0].tagName, 'SVG', 'grip first');
  const buttons = bar.children.filter((c) => c.tagName === 'BUTTON');
  equal(buttons.map((x) => x.children[1].textContent).join(), 'Home,Back,Fullscreen', 'button labels');

  buttons[2].click();
  equal(b.doc.getElementById('kelbro-full-loader'), null, 'fullscreen shows no loader');
  buttons[1].click();
  buttons[0].click();
  equal(b.posted.join(), 'btn_fullscreen,btn_back,btn_home', 'button messages');
  const loader = b.doc.getElementById('kelbro-full-loader');
  check(loader && /display:flex/.test(loader.style.cssText), 'home and back show the loader');
  b.advance(5000);
  equal(loader.style.display, 'none', 'loader hidden after 5 s');
  b.window.dispatch('beforeunload');
  equal(loader.style.display, 'flex', 'leaving the page shows the loader again');
  equal(b.doc.allById('kelbro-full-loader').length, 1, 'one loader only');

  bar.dispatch('mouseenter');
  equal(bar.style.opacity + ' ' + buttons.map((x) => x.children[1].style.maxWidth).join(), '1 33px,33px,81px',
        'hover opens the bar with labels as wide as their text');
  bar.dispatch('mouseleave');
  equal(bar.style.opacity + ' ' + buttons[0].children[1].style.maxWidth, '0.4 0', 'leaving closes it');

  // A 3-pixel wobble is still a click.
  b.posted.length = 0;
  bar.dispatch('mousedown', { clientX: 10, clientY: 10 });
  b.window.dispatch('mousemove', { clientX: 13, clientY: 7 });
  b.window.dispatch('mouseup');
  equal(bar.style.left, '100px', 'wobble does not move the bar');
  check(!buttons[1].click().defaultPrevented, 'click after a wobble goes through');
  equal(b.posted.join(), 'btn_back', 'message after a wobble');

  // A real drag moves and stores the bar and swallows the click that ends it.
  b.posted.length = 0;
  bar.dispatch('mousedown', { clientX: 10, clientY: 10 });
  b.window.dispatch('mousemove', { clientX: 50, clientY: 4 });
  b.window.dispatch('mouseup');
  equal(bar.style.left + ' ' + bar.style.top, '140px 244px', 'dragged place');
  equal(b.storage.get('kb_nx') + ' ' + b.storage.get('kb_ny'), '140 244', 'stored place');
  const click = buttons[0].click();
  check(click.defaultPrevented && click.stopped && b.posted.length === 0, 'click ending a drag is swallowed');

  putBackAfterRemoval(b, 'kelbro-nav-container');
  equal(b.doc.getElementById('kelbro-nav-container').style.left, '140px', 'restored bar keeps its place');

  const locked = makeBrowser({ storageThrows: true });
  locked.run(source);
  const lockedBar = locked.doc.getElementById('kelbro-nav-container');
  equal(lockedBar.style.left + ' ' + lockedBar.style.top, '20px 20px', 'default place when storage is refused');
  lockedBar.dispatch('mousedown', { clientX: 0, clientY: 0 });
  locked.window.dispatch('mousemove', { clientX: 30, clientY: 30 });
  locked.window.dispatch('mouseup');
  equal(lockedBar.style.left, '50px', 'dragging works without storage');
};

// The bar stays inside the visible area: placed from storage, on resize, when
// dragged; and only the top document gets one.
scenarios.navigationBarInside = (source) => {
  const b = makeBrowser({ storage: { kb_nx: '5000', kb_ny: '-40' } });
  b.run(source);
  const bar = b.doc.getElementById('kelbro-nav-container');
  equal(bar.style.left + ' ' + bar.style.top, '1023px 0px', 'stored place outside, before the bar has a size');
  bar.width = 300;
  bar.height = 50;
  b.window.dispatch('resize');
  equal(bar.style.left + ' ' + bar.style.top, '723px 0px', 'inside once laid out');
  b.window.innerWidth = 500;
  b.window.innerHeight = 300;
  b.window.dispatch('resize');
  equal(bar.style.left, '199px', 'a smaller window keeps it inside');
  b.window.innerWidth = 1024;
  b.window.dispatch('resize');
  equal(bar.style.left, '723px', 'the place the user chose comes back in a larger window');
  bar.dispatch('mousedown', { clientX: 750, clientY: 10 });
  b.window.dispatch('mousemove', { clientX: 2000, clientY: 900 });
  b.window.dispatch('mouseup');
  equal(bar.style.left + ' ' + bar.style.top, '723px 249px', 'dragged against the edges');
  equal(b.storage.get('kb_nx') + ' ' + b.storage.get('kb_ny'), '723 249', 'the place inside is stored');

  const junk = makeBrowser({ storage: { kb_nx: 'x;background:red', kb_ny: '1e400' } });
  junk.run(source);
  const junkBar = junk.doc.getElementById('kelbro-nav-container');
  equal(junkBar.style.left + ' ' + junkBar.style.top, '20px 1px', 'stored values are numbers or the default');

  const frame = makeBrowser({ inFrame: true });
  frame.run(source);
  equal(frame.doc.getElementById('kelbro-nav-container'), null, 'no bar inside a frame');
  equal(frame.window._kelbroNavAdded, undefined, 'nothing set up inside a frame');
};

scenarios.pageScriptWrapper = (source) => {
  const b = makeBrowser({ readyState: 'loading' });
  b.run(source);
  equal(b.window.ran, undefined, 'page script waits for the document');
  b.doc.finishLoading();
  equal(b.window.ran, 1, 'page script ran once when ready');
  const ready = makeBrowser();
  ready.run(source);
  equal(ready.window.ran, 1, 'page script runs at once on a ready document');
};

const [scenario, file, argument] = process.argv.slice(2);
if (!scenarios[scenario]) fail('unknown scenario ' + scenario);
try {
  scenarios[scenario](fs.readFileSync(file, 'utf8'), argument);
} catch (error) {
  fail(error && error.stack ? error.stack : String(error));
}
process.stdout.write('ok\n');

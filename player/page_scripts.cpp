#include "player/page_scripts.h"

#include "player/page_builder.h"

// The texts below are JavaScript that runs unmodified in the page; ids, flags,
// storage keys and style texts are part of the program's page contract.

WString LoaderScript() {
    return uR"JS((function(){
if (window._kelbroLoaderAdded) return;
window._kelbroLoaderAdded = true;
function whenReady(fn){
  if (document.readyState === 'loading') { document.addEventListener('DOMContentLoaded', fn); } else { fn(); }
}
function addOverlay(){
  if (document.getElementById('kelbro-full-loader')) return;
  var parent = document.body || document.documentElement;
  if (!parent) return;
  var overlay = document.createElement('div');
  overlay.id = 'kelbro-full-loader';
  overlay.style.cssText = 'position:fixed;top:0;left:0;width:100vw;height:100vh;background:#202020;z-index:2147483647;display:flex;flex-direction:column;justify-content:center;align-items:center;transition:opacity 0.5s ease-out;';
  var spinner = document.createElement('div');
  spinner.style.cssText = 'width:60px;height:60px;border:6px solid rgba(255,255,255,0.2);border-top-color:#3498db;border-radius:50%;animation:kelbro-spin 1s linear infinite;margin-bottom:20px;';
  var text = document.createElement('div');
  text.style.cssText = 'color:#fff;font-family:sans-serif;font-size:20px;text-align:center;';
  text.textContent = 'جاري التحميل... Loading...';
  var rule = document.createElement('style');
  rule.textContent = '@keyframes kelbro-spin { to { transform: rotate(360deg); } }';
  overlay.appendChild(spinner);
  overlay.appendChild(text);
  overlay.appendChild(rule);
  parent.appendChild(overlay);
}
function hideOverlay(){
  var overlay = document.getElementById('kelbro-full-loader');
  if (!overlay) return;
  overlay.style.opacity = '0';
  setTimeout(function(){ if (overlay.parentNode) overlay.parentNode.removeChild(overlay); }, 500);
}
whenReady(addOverlay);
window.addEventListener('load', hideOverlay);
setTimeout(hideOverlay, 5000);
})();
)JS";
}

WString PrintRedirectScript() {
    return uR"JS((function(){
if (window._kelbroPrintBlockAdded) return;
window._kelbroPrintBlockAdded = true;
var requestPrint = function(){
  if (window.chrome && window.chrome.webview) window.chrome.webview.postMessage('requestPrint');
};
try { window.print = requestPrint; } catch (e) {}
try {
  Object.defineProperty(window, 'print', { value: requestPrint, writable: false, configurable: false });
} catch (e) {}
window.addEventListener('keydown', function(e){
  if (!(e.ctrlKey || e.metaKey)) return;
  if (e.key === 'p') {
    e.preventDefault();
    e.stopImmediatePropagation();
    requestPrint();
  } else if (e.key === 's') {
    e.preventDefault();
    e.stopImmediatePropagation();
  } else if (e.shiftKey && e.key === 'S') {
    e.preventDefault();
    e.stopImmediatePropagation();
  }
}, true);
window.addEventListener('beforeprint', function(e){ e.preventDefault(); }, true);
// Nothing is saved from a page either: the media controls' menu offers no
// "Download" (the browser would only cancel it). The browser's own document
// for a media address builds its player after this script ran, so elements
// are marked as they arrive.
function noDownload(node){
  if (!node || node.nodeType !== 1) return;
  var media = /^(VIDEO|AUDIO)$/.test(node.tagName) ? [node] : (node.querySelectorAll ? node.querySelectorAll('video,audio') : []);
  for (var i = 0; i < media.length; i++) {
    var list = media[i].controlsList;
    if (list && !list.contains('nodownload')) list.add('nodownload');
  }
}
noDownload(document.documentElement);
document.addEventListener('DOMContentLoaded', function(){ noDownload(document.documentElement); });
if (typeof MutationObserver !== 'undefined') {
  new MutationObserver(function(records){
    for (var i = 0; i < records.length; i++)
      for (var j = 0; j < records[i].addedNodes.length; j++) noDownload(records[i].addedNodes[j]);
  }).observe(document, { childList: true, subtree: true });
}
})();
)JS";
}

WString WatermarkScript(const WString& watermarkText) {
    static constexpr char16_t kHead[] = uR"JS((function(){
if (window._kelbroWatermarkAdded) return;
window._kelbroWatermarkAdded = true;
function addWatermark(){
  if (document.getElementById('kelbro-watermark')) return;
  var parent = document.body || document.documentElement;
  if (!parent) return;
  var wm = document.createElement('div');
  wm.id = 'kelbro-watermark';
  wm.setAttribute('aria-hidden', 'true');
  wm.style.cssText = 'position:fixed;top:0;left:0;width:100%;height:100%;pointer-events:none;z-index:2147483646;opacity:0.15;display:flex;align-items:center;justify-content:center;font-size:3vw;color:red;transform:rotate(-30deg);font-family:Arial,sans-serif;font-weight:bold;';
  wm.textContent = ')JS";
    static constexpr char16_t kTail[] = uR"JS(';
  parent.appendChild(wm);
}
function whenReady(fn){
  if (document.readyState === 'loading') { document.addEventListener('DOMContentLoaded', fn); } else { fn(); }
}
whenReady(function(){
  addWatermark();
  // The root exists once the document is ready; observing it earlier may fail.
  if (!document.documentElement || typeof MutationObserver === 'undefined') return;
  new MutationObserver(function(){
    if (!document.getElementById('kelbro-watermark') && document.body) addWatermark();
  }).observe(document.documentElement, { childList: true, subtree: true });
});
})();
)JS";
    return kHead + EscapeForScriptString(watermarkText) + kTail;
}

WString PrintButtonScript() {
    return uR"JS((function(){
if (window._kelbroPrintBtnAdded) return;
window._kelbroPrintBtnAdded = true;
function addButton(){
  if (document.getElementById('kelbro-print-btn')) return;
  var parent = document.body || document.documentElement;
  if (!parent) return;
  var btn = document.createElement('button');
  btn.id = 'kelbro-print-btn';
  // Pages that enforce Trusted Types refuse markup; the printer symbol is the same either way.
  try { btn.innerHTML = '&#128424;'; } catch (e) { btn.textContent = '\uD83D\uDDA8'; }
  btn.title = 'Print';
  btn.setAttribute('aria-label', 'Print - طباعة');
  btn.style.cssText = 'position:fixed;bottom:24px;right:24px;width:48px;height:48px;border-radius:50%;border:none;background:rgba(33,150,243,0.9);color:white;font-size:22px;cursor:pointer;z-index:2147483647;display:flex;align-items:center;justify-content:center;box-shadow:0 4px 12px rgba(0,0,0,0.3);transition:transform 0.2s,background 0.2s;';
  btn.addEventListener('mouseenter', function(){
    btn.style.transform = 'scale(1.1)';
    btn.style.background = 'rgba(33,150,243,1)';
  });
  btn.addEventListener('mouseleave', function(){
    btn.style.transform = 'scale(1)';
    btn.style.background = 'rgba(33,150,243,0.9)';
  });
  btn.addEventListener('click', function(){
    if (window.chrome && window.chrome.webview) window.chrome.webview.postMessage('requestPrint');
  });
  parent.appendChild(btn);
}
function whenReady(fn){
  if (document.readyState === 'loading') { document.addEventListener('DOMContentLoaded', fn); } else { fn(); }
}
whenReady(function(){
  addButton();
  if (!document.documentElement || typeof MutationObserver === 'undefined') return;
  new MutationObserver(function(){
    if (!document.getElementById('kelbro-print-btn') && document.body) addButton();
  }).observe(document.documentElement, { childList: true, subtree: true });
});
})();
)JS";
}

WString NavigationBarScript() {
    return uR"JS((function(){
// The bar belongs to the top document only: a copy in every frame would be
// a second, dead bar inside the page.
if (window.top !== window) return;
if (window._kelbroNavAdded) return;
window._kelbroNavAdded = true;
var SVG_NS = 'http://www.w3.org/2000/svg';
function post(message){
  if (window.chrome && window.chrome.webview) window.chrome.webview.postMessage(message);
}
function showLoader(){
  var loader = document.getElementById('kelbro-full-loader');
  if (loader) {
    loader.style.display = 'flex';
  } else {
    var parent = document.body || document.documentElement;
    if (parent) {
      loader = document.createElement('div');
      loader.id = 'kelbro-full-loader';
      loader.style.cssText = 'position:fixed;top:0;left:0;width:100vw;height:100vh;background:rgba(255,255,255,0.7);backdrop-filter:blur(3px);z-index:2147483647;display:flex;justify-content:center;align-items:center;';
      var spinner = document.createElement('div');
      spinner.style.cssText = 'width:50px;height:50px;border:5px solid rgba(0,0,0,0.1);border-top-color:#3498db;border-radius:50%;animation:kelbro-spin 1s linear infinite;';
      var rule = document.createElement('style');
      rule.textContent = '@keyframes kelbro-spin { to { transform: rotate(360deg); } }';
      loader.appendChild(spinner);
      loader.appendChild(rule);
      parent.appendChild(loader);
    }
  }
  if (window._kelbroLoaderTimeout) clearTimeout(window._kelbroLoaderTimeout);
  window._kelbroLoaderTimeout = setTimeout(function(){
    var l = document.getElementById('kelbro-full-loader');
    if (l) l.style.display = 'none';
  }, 5000);
}
window.addEventListener('beforeunload', showLoader);

// A stored offset is the page's own storage: anything but a number is the default.
function readOffset(key){
  try {
    var v = window.localStorage.getItem(key);
    var n = v === null ? NaN : parseInt(v, 10);
    return isFinite(n) ? n : 20;
  } catch (e) {
    return 20;
  }
}
function storeOffset(key, value){
  try { window.localStorage.setItem(key, String(value)); } catch (e) {}
}
function makeGrip(){
  var svg = document.createElementNS(SVG_NS, 'svg');
  svg.setAttribute('width', '20');
  svg.setAttribute('height', '20');
  svg.setAttribute('viewBox', '0 0 24 24');
  svg.setAttribute('fill', 'white');
  var dots = [[9, 5], [15, 5], [9, 12], [15, 12], [9, 19], [15, 19]];
  for (var i = 0; i < dots.length; i++) {
    var dot = document.createElementNS(SVG_NS, 'circle');
    dot.setAttribute('cx', String(dots[i][0]));
    dot.setAttribute('cy', String(dots[i][1]));
    dot.setAttribute('r', '2');
    svg.appendChild(dot);
  }
  svg.setAttribute('aria-hidden', 'true');
  svg.style.cursor = 'grab';
  svg.style.opacity = '0.7';
  svg.style.flexShrink = '0';
  return svg;
}

// The visible area of the window, without its scroll bars where the
// document says where they are, and within the visual viewport (a pinch
// zoom, a scaled screen's fractional sizes).
function visibleArea(){
  var x = 0, y = 0;
  var w = window.innerWidth || 0;
  var h = window.innerHeight || 0;
  var root = document.documentElement;
  if (root && document.compatMode === 'CSS1Compat') {
    if (root.clientWidth > 0 && root.clientWidth < w) w = root.clientWidth;
    if (root.clientHeight > 0 && root.clientHeight < h) h = root.clientHeight;
  }
  var vv = window.visualViewport;
  if (vv && vv.width > 0 && vv.height > 0) {
    x = Math.max(0, vv.offsetLeft || 0);
    y = Math.max(0, vv.offsetTop || 0);
    w = Math.min(w - x, Math.floor(vv.width));
    h = Math.min(h - y, Math.floor(vv.height));
  }
  return { x: x, y: y, w: w, h: h };
}

var bar = null;
// Where the user put the bar (stored between pages); it is shown there as
// far as the window allows, and moved aside while it is open so that the
// button under the pointer stays under it.
var rest = { x: readOffset('kb_nx'), y: readOffset('kb_ny') };
var shift = 0;
var drag = { active: false, moved: false, x: 0, y: 0, left: 0, top: 0 };
function inside(x, y){
  var area = visibleArea();
  if (bar && area.w > 0 && area.h > 0) {
    var w = bar.offsetWidth || 0, h = bar.offsetHeight || 0;
    // What the bar covers beyond its box once its hover scaling around the
    // pointer has run (the transition may not have started yet).
    var over = { l: 0, t: 0, r: 0, b: 0 };
    var scaled = /scale\(([0-9.]+)\)/.exec(bar.style.transform || '');
    var grow = scaled ? parseFloat(scaled[1]) - 1 : 0;
    if (grow > 0 && grow < 1) {
      var origin = /^(-?[0-9.]+)px (-?[0-9.]+)px/.exec(bar.style.transformOrigin || '');
      var ox = origin ? parseFloat(origin[1]) : w / 2;
      var oy = origin ? parseFloat(origin[2]) : h / 2;
      // Whole pixels: layout rounds in steps smaller than one.
      over = { l: Math.ceil(Math.max(0, grow * ox)), t: Math.ceil(Math.max(0, grow * oy)),
               r: Math.ceil(Math.max(0, grow * (w - ox))), b: Math.ceil(Math.max(0, grow * (h - oy))) };
    }
    // Sizes are whole pixels here and fractional on the screen: one to spare.
    x = Math.max(area.x + over.l, Math.min(x, area.x + area.w - w - over.r - 1));
    y = Math.max(area.y + over.t, Math.min(y, area.y + area.h - h - over.b - 1));
    x = Math.max(0, x);
    y = Math.max(0, y);
  }
  return { x: x, y: y };
}
function place(){
  if (!bar) return;
  var p = inside(rest.x - shift, rest.y);
  bar.style.left = p.x + 'px';
  bar.style.top = p.y + 'px';
}
// One set of window listeners for every bar this document ever gets, so a
// page that keeps removing the bar does not pile them up.
window.addEventListener('resize', place);
if (window.visualViewport) window.visualViewport.addEventListener('resize', place);
window.addEventListener('mousemove', function(e){
  if (!drag.active || !bar) return;
  var dx = e.clientX - drag.x;
  var dy = e.clientY - drag.y;
  // Small jitter during a click must not turn the click into a drag.
  if (!drag.moved && (Math.abs(dx) > 3 || Math.abs(dy) > 3)) drag.moved = true;
  if (!drag.moved) return;
  shift = 0;
  rest = inside(drag.left + dx, drag.top + dy);
  place();
});
window.addEventListener('mouseup', function(){
  if (!drag.active || !bar) return;
  drag.active = false;
  bar.style.cursor = 'grab';
  if (drag.moved) {
    storeOffset('kb_nx', rest.x);
    storeOffset('kb_ny', rest.y);
  }
});

function addBar(){
  if (document.getElementById('kelbro-nav-container')) return;
  var parent = document.body || document.documentElement;
  if (!parent) return;
  bar = document.createElement('div');
  bar.id = 'kelbro-nav-container';
  var s = bar.style;
  s.position = 'fixed';
  s.zIndex = '2147483646';
  s.display = 'flex';
  s.gap = '10px';
  s.padding = '8px';
  s.background = 'rgba(0, 0, 0, 0.4)';
  s.backdropFilter = 'blur(10px)';
  s.borderRadius = '12px';
  s.transition = 'all 0.3s ease';
  s.opacity = '0.4';
  s.alignItems = 'center';
  s.boxShadow = '0 4px 6px rgba(0,0,0,0.1)';
  // Its own width whatever the room: near the window's edge the bar moves
  // inside rather than squeezing its labels.
  s.width = 'max-content';
  s.whiteSpace = 'nowrap';
  bar.appendChild(makeGrip());
  var thisBar = bar;
  thisBar.addEventListener('mousedown', function(e){
    drag.active = true;
    drag.moved = false;
    drag.x = e.clientX;
    drag.y = e.clientY;
    drag.left = thisBar.offsetLeft;
    drag.top = thisBar.offsetTop;
    thisBar.style.cursor = 'grabbing';
  });

  var buttons = [];
  var labels = [];
  function addButton(icon, label, spoken, message, withLoader){
    var b = document.createElement('button');
    b.setAttribute('aria-label', spoken);
    b.style.cssText = 'background:rgba(255, 255, 255, 0.9);border:none;padding:8px;border-radius:8px;font-weight:bold;cursor:pointer;font-family:sans-serif;color:#333;display:flex;align-items:center;transition:all 0.3s ease;flex-shrink:0;';
    var iconSpan = document.createElement('span');
    iconSpan.textContent = icon;
    iconSpan.setAttribute('aria-hidden', 'true');
    var labelSpan = document.createElement('span');
    labelSpan.className = 'nav-text';
    labelSpan.textContent = label;
    b.title = label;
    labelSpan.style.cssText = 'max-width:0;opacity:0;white-space:nowrap;overflow:hidden;margin-left:0;transition:all 0.3s ease;';
    b.appendChild(iconSpan);
    b.appendChild(labelSpan);
    b.addEventListener('click', function(e){
      if (drag.moved) {
        e.preventDefault();
        e.stopPropagation();
        return;
      }
      if (withLoader) showLoader();
      post(message);
    });
    buttons.push(b);
    labels.push(labelSpan);
    thisBar.appendChild(b);
  }
  addButton('🏠', 'Home', 'Home - الرئيسية', 'btn_home', true);
  addButton('←', 'Back', 'Back - رجوع', 'btn_back', true);
  addButton('⛶', 'Fullscreen', 'Fullscreen - ملء الشاشة', 'btn_fullscreen', false);

  // The bar opens around the pointer: the labels of the buttons left of it
  // open only if the bar can move left by as much (then nothing under the
  // pointer moves), those from the pointer on only if they fit on the
  // right. A button the pointer reaches later opens then, growing rightwards
  // from under it. Every button also names itself in its tooltip.
  var opened = [];
  var closedWidth = 0;
  function labelWidth(i){ return (labels[i].scrollWidth || 50) + 1; }
  // What opening button i adds to the bar: its label, the label's margin, more padding.
  function growth(i){ return labelWidth(i) + 4 + 16; }
  function show(i, on){
    opened[i] = on;
    buttons[i].style.padding = on ? '8px 16px' : '8px';
    labels[i].style.maxWidth = on ? labelWidth(i) + 'px' : '0';
    labels[i].style.opacity = on ? '1' : '0';
    labels[i].style.marginLeft = on ? '4px' : '0';
  }
  // How many buttons lie wholly left of the pointer.
  function buttonsBefore(e){
    var n = 0;
    if (typeof e.clientX !== 'number') return 0;
    for (var i = 0; i < buttons.length; i++) {
      if (buttons[i].getBoundingClientRect && buttons[i].getBoundingClientRect().right <= e.clientX) n = i + 1;
    }
    return n;
  }
  function openFrom(first){
    var area = visibleArea();
    var width = closedWidth;
    for (var i = 0; i < buttons.length; i++) if (opened[i]) width += growth(i);
    var extra = 0;
    for (var j = first; j < buttons.length; j++) if (!opened[j]) extra += growth(j);
    var left = inside(rest.x - shift, rest.y).x;
    if (area.w > 0 && left + width + extra + 1 > area.w) return;
    for (var k = first; k < buttons.length; k++) if (!opened[k]) show(k, true);
  }
  thisBar.addEventListener('mouseenter', function(e){
    closedWidth = thisBar.offsetWidth || 0;
    var before = buttonsBefore(e);
    var leftGrowth = 0;
    for (var i = 0; i < before; i++) leftGrowth += growth(i);
    shift = 0;
    var left = inside(rest.x, rest.y).x;
    if (before > 0 && leftGrowth <= left) {
      left -= leftGrowth;
      shift = rest.x - left;
      for (var j = 0; j < before; j++) show(j, true);
    }
    thisBar.style.opacity = '1';
    thisBar.style.transform = 'scale(1.05)';
    // Growing around the pointer keeps the point under it where it is.
    if (typeof e.clientX === 'number')
      thisBar.style.transformOrigin = (e.clientX - left) + 'px ' + (e.clientY - thisBar.offsetTop) + 'px';
    place();
    openFrom(before);
  });
  thisBar.addEventListener('mouseover', function(e){
    if (drag.active) return;
    openFrom(buttonsBefore(e));
  });
  thisBar.addEventListener('mouseleave', function(){
    thisBar.style.opacity = '0.4';
    thisBar.style.transform = 'scale(1)';
    for (var i = 0; i < buttons.length; i++) show(i, false);
    shift = 0;
    place();
  });
  parent.appendChild(thisBar);
  place();
}

function whenReady(fn){
  if (document.readyState === 'loading') { document.addEventListener('DOMContentLoaded', fn); } else { fn(); }
}
whenReady(function(){
  addBar();
  if (!document.documentElement || typeof MutationObserver === 'undefined') return;
  new MutationObserver(function(){
    if (!document.getElementById('kelbro-nav-container') && document.body) addBar();
  }).observe(document.documentElement, { childList: true, subtree: true });
});
})();
)JS";
}

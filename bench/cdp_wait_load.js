// Waits until Chromium's page (DevTools port argv[2]) has loaded argv[3]
// completely; prints nothing, exits 0 when it has, 1 after argv[4] ms.
const [port, url, limitMs] = [process.argv[2], process.argv[3], Number(process.argv[4] || 60000)];
const deadline = Date.now() + limitMs;
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function pageSocket() {
  while (Date.now() < deadline) {
    try {
      const targets = await (await fetch(`http://127.0.0.1:${port}/json/list`)).json();
      const page = targets.find((t) => t.type === 'page' && t.webSocketDebuggerUrl);
      if (page) return page.webSocketDebuggerUrl;
    } catch (e) {}
    await sleep(10);
  }
  process.exit(1);
}

(async () => {
  const ws = new WebSocket(await pageSocket());
  await new Promise((r) => ws.addEventListener('open', r));
  let id = 0;
  const pending = new Map();
  ws.addEventListener('message', (e) => {
    const msg = JSON.parse(e.data);
    if (pending.has(msg.id)) { pending.get(msg.id)(msg); pending.delete(msg.id); }
  });
  const evaluate = (expression) => new Promise((resolve) => {
    const n = ++id;
    pending.set(n, resolve);
    ws.send(JSON.stringify({ id: n, method: 'Runtime.evaluate', params: { expression, returnByValue: true } }));
  });
  while (Date.now() < deadline) {
    const r = await evaluate('document.readyState + " " + location.href');
    const v = r.result && r.result.result && r.result.result.value;
    if (v === `complete ${url}`) process.exit(0);
    await sleep(10);
  }
  process.exit(1);
})();

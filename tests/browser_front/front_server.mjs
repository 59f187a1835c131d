// A stand-in for the engine's side of the browser front: serves an interface folder on
// 127.0.0.1 under the run's secret, injects the front's scripts into every page, and answers
// the bridge as "Application" and "Localizer" would (English: the message ids themselves).
import http from "node:http";
import fs from "node:fs";
import path from "node:path";
import crypto from "node:crypto";

const kTypes = {
  ".html": "text/html; charset=utf-8", ".htm": "text/html; charset=utf-8",
  ".js": "text/javascript; charset=utf-8", ".css": "text/css; charset=utf-8",
  ".svg": "image/svg+xml", ".png": "image/png",
};

// The archive finds paths without regard to case; so does this.
function findCaseless(root, relative) {
  let current = root;
  for (const segment of relative.split("/").filter(Boolean)) {
    if (segment === "." || segment === "..") return null;
    let entries;
    try { entries = fs.readdirSync(current); } catch { return null; }
    const found = entries.find((entry) => entry.toLowerCase() === segment.toLowerCase());
    if (!found) return null;
    current = path.join(current, found);
  }
  return fs.statSync(current).isFile() ? current : null;
}

function decode(value, page) {
  if (value === null || typeof value !== "object") return value;
  if (Array.isArray(value)) return value.map((item) => decode(item, page));
  switch (value.$) {
    case "undefined": return undefined;
    case "function": return {handle: value.id, page};
    case "error": return new Error(value.text);
    case "number": return Number(value.text);
    default: {
      const fields = value.$ === "object" ? value.value : value;
      return Object.fromEntries(Object.entries(fields).map(([key, field]) => [key, decode(field, page)]));
    }
  }
}

function encode(value) {
  if (value === undefined) return {$: "undefined"};
  if (value instanceof Error) return {$: "error", text: value.message};
  if (Array.isArray(value)) return value.map(encode);
  return value;
}

// The engine's simple text conversion of a script value.
const text = (value) => String(value);

export const kLanguages = ["English", "French", "German", "Spanish"];

// missing: paths answered 404 as if the archive lacked them.
export async function startFrontServer({root, frontFolder, email = "", language = "English", missing = []}) {
  const secret = crypto.randomBytes(16).toString("hex");
  const state = {
    email, language, reports: [], closes: [], console: [], calls: [],
    listeners: new Map(),  // id -> {page, handle}
  };
  const frontScripts = ["css_rewrite.js", "bootstrap.js"].map((name) =>
    fs.readFileSync(path.join(frontFolder, name), "utf8").replaceAll("</script", "<\\/script"));
  const waiting = [];  // callbacks sent to the page, newest last
  let port = 0;

  const objects = [
    {name: "Application", methods: ["on", "removeListener", "SendReport"], properties: ["Email"]},
    {name: "Localizer", methods: ["on", "removeListener", "GetLanguages", "GetCurrentLanguage",
                                  "SetCurrentLanguage", "Localize"], properties: []},
  ];

  function translate(msgid) {
    return state.language === "English" ? msgid : `[${state.language}] ${msgid}`;
  }

  async function dispatch(message, invoke) {
    const args = decode(message.args || [], message.page);
    state.calls.push({op: message.op, object: message.object, name: message.name, args});
    const key = `${message.op} ${message.object}.${message.name}`;
    switch (key) {
      case "get Application.Email": return state.email;
      case "call Application.on": return "";
      case "call Application.removeListener": return false;
      case "call Application.SendReport":
        state.reports.push({email: text(args[0]), description: text(args[1])});
        return undefined;
      case "call Localizer.on": {
        if (text(args[0]) !== "language-changed" || !args[1] || args[1].handle === undefined) return "";
        const id = crypto.randomUUID();
        state.listeners.set(id, args[1]);
        return id;
      }
      case "call Localizer.removeListener": return state.listeners.delete(text(args[0]));
      case "call Localizer.GetLanguages": return kLanguages;
      case "call Localizer.GetCurrentLanguage": return state.language;
      case "call Localizer.SetCurrentLanguage": {
        const wanted = text(args[0]);
        if (!kLanguages.includes(wanted)) return new Error("no language");
        if (wanted === state.language) return undefined;
        state.language = wanted;
        // Listeners of pages that are gone are not called.
        for (const listener of Array.from(state.listeners.values())) {
          if (listener.page === message.page) await invoke(listener.handle, [wanted]);
        }
        return undefined;
      }
      case "call Localizer.Localize": return translate(text(args[0]));
      default: throw new Error(`no such member: ${message.object}.${message.name}`);
    }
  }

  function reply(response, body) {
    response.writeHead(200, {"Content-Type": "application/json"});
    response.end(JSON.stringify(body));
  }

  async function exchange(message, response) {
    let open = response;
    const invoke = (handle, args) => new Promise((resolve) => {
      reply(open, {invoke: {function: handle, args: args.map(encode)}});
      waiting.push((answer, next) => { open = next; resolve(answer); });
    });
    try {
      if (message.op === "console") {
        state.console.push({level: message.level, text: message.text});
        reply(open, {result: encode(undefined)});
      } else if (message.op === "key") {
        reply(open, {result: false});  // no element handler here
      } else if (message.op === "close") {
        state.closes.push(decode(message.value, message.page));
        reply(open, {result: encode(undefined)});
      } else {
        const result = await dispatch(message, invoke);  // may move `open` on
        reply(open, {result: encode(result)});
      }
    } catch (error) {
      reply(open, {error: error.message});
    }
  }

  function servePage(file, response) {
    let body = fs.readFileSync(file);
    const type = kTypes[path.extname(file).toLowerCase()] || "application/octet-stream";
    if (type.startsWith("text/html")) {
      const description = {secret, bridge: `/${secret}/__front__/bridge`, objects};
      const injected = `<script>window.__tallorinFront = ${JSON.stringify(description)};</script>` +
                       frontScripts.map((script) => `<script>${script}</script>`).join("");
      const page = body.toString("utf8");
      const at = /<head[^>]*>/i.exec(page) || /<html[^>]*>/i.exec(page);
      const position = at ? at.index + at[0].length : 0;
      body = Buffer.from(page.slice(0, position) + injected + page.slice(position));
    }
    response.writeHead(200, {"Content-Type": type, "Cache-Control": "no-store"});
    response.end(body);
  }

  const server = http.createServer((request, response) => {
    const refuse = (status) => { response.writeHead(status); response.end(); };
    if (request.headers.host !== `127.0.0.1:${port}`) return refuse(403);
    const url = new URL(request.url, `http://127.0.0.1:${port}`);
    const prefix = `/${secret}/`;
    if (!url.pathname.startsWith(prefix)) return refuse(403);
    const relative = decodeURIComponent(url.pathname.slice(prefix.length));
    if (relative === "__front__/bridge") {
      if (request.method !== "POST" || request.headers["x-tallorin-secret"] !== secret) return refuse(403);
      // As the engine's server: a body over 1 MiB is refused from its header.
      if (Number(request.headers["content-length"] || 0) > 1 << 20) return refuse(413);
      const chunks = [];
      request.on("data", (chunk) => chunks.push(chunk));
      request.on("end", () => {
        let message;
        try { message = JSON.parse(Buffer.concat(chunks).toString("utf8")); } catch { return refuse(400); }
        if (message.op === "return") {
          const resume = waiting.pop();
          if (!resume) return refuse(409);
          resume(message, response);
        } else {
          exchange(message, response);
        }
      });
      return undefined;
    }
    const file = missing.includes(relative) ? null : findCaseless(root, relative);
    if (!file) return refuse(404);
    return servePage(file, response);
  });

  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  port = server.address().port;
  return {
    state,
    url: (page) => `http://127.0.0.1:${port}/${secret}/${page}`,
    close: () => new Promise((resolve) => { server.closeAllConnections(); server.close(resolve); }),
  };
}

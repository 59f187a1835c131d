// The engine's script environment in a browser page: JSX, the reactor, Window, console and the
// global native objects. Runs before any script of the page; the server puts the run's
// description into window.__tallorinFront first (see README.md), and css_rewrite.js before it.
(function () {
  "use strict";

  const front = window.__tallorinFront || {objects: []};
  const DomElement = window.Element;
  const pageId = Math.random().toString(36).slice(2) + Date.now().toString(36);
  // This page is a dialog's, in a frame of its owner's page.
  const isDialog = (() => {
    try { return !!(window.frameElement && window.parent.__tallorinFrontDialogs &&
                    window.parent.__tallorinFrontDialogs.has(window.frameElement)); }
    catch (error) { return false; }
  })();
  const heldBy = [];  // the frames of the open dialogs that hold this page, innermost last
  const rawConsole = {log: console.log.bind(console), warn: console.warn.bind(console),
                      error: console.error.bind(console)};

  // ---- bridge -------------------------------------------------------------------------------

  // Function handles are shared by a window and its dialogs' frames, so the program can call
  // back any of them during any exchange.
  let registry = null;
  try {
    if (window.frameElement && window.parent.__tallorinFrontRegistry) registry = window.parent.__tallorinFrontRegistry;
  } catch (error) { registry = null; }
  if (!registry) registry = {page: pageId, functions: new Map(), handleOf: new WeakMap(), next: 1};
  Object.defineProperty(window, "__tallorinFrontRegistry", {value: registry});
  const functions = registry.functions;
  const handleOf = registry.handleOf;

  function isPlainObject(value) {
    const proto = Object.getPrototypeOf(value);
    return proto === Object.prototype || proto === null;
  }

  function encode(value) {
    if (value === undefined) return {$: "undefined"};
    if (value === null || typeof value === "string" || typeof value === "boolean") return value;
    if (typeof value === "number") return Number.isFinite(value) ? value : {$: "number", text: String(value)};
    if (typeof value === "function") {
      let id = handleOf.get(value);
      if (!id) {
        id = registry.next++;
        handleOf.set(value, id);
        functions.set(id, value);
      }
      return {$: "function", id};
    }
    if (value instanceof Error) return {$: "error", text: String(value.message)};
    if (Array.isArray(value)) return value.map(encode);
    if (typeof value === "object" && isPlainObject(value)) {
      const fields = {};
      for (const key of Object.keys(value)) fields[key] = encode(value[key]);
      return "$" in value ? {$: "object", value: fields} : fields;
    }
    return {$: "undefined"};  // promises, elements: nothing the program can hold
  }

  function decode(value) {
    if (value === null || typeof value !== "object") return value;
    if (Array.isArray(value)) return value.map(decode);
    const fields = value.$ === "object" ? value.value : value;
    switch (value.$) {
      case "undefined": return undefined;
      case "number": return Number(value.text);
      case "error": return new Error(value.text);
      case "function": return functions.get(value.id);
      default: {
        const result = {};
        for (const key of Object.keys(fields)) result[key] = decode(fields[key]);
        return result;
      }
    }
  }

  function post(message) {
    const xhr = new XMLHttpRequest();
    xhr.open("POST", front.bridge, false);
    xhr.setRequestHeader("Content-Type", "application/json");
    xhr.setRequestHeader("X-Tallorin-Secret", front.secret || "");
    let failure = null;
    try {
      xhr.send(JSON.stringify(Object.assign({page: registry.page}, message)));
      if (xhr.status !== 200) failure = "answered " + xhr.status;
    } catch (error) {
      failure = "failed: " + String(error && error.message || error);
    }
    if (failure === null) return JSON.parse(xhr.responseText);
    const refusal = new Error("bridge " + failure + " to " + what(message));
    // The page may swallow the error; the program's log must not miss it. A console line
    // that fails has nowhere to go.
    if (message.op !== "console") forward("error", [refusal.message]);
    throw refusal;
  }

  function what(message) {
    if (message.op === "call" || message.op === "get") return message.op + " " + message.object + "." + message.name;
    return message.op;
  }

  // One synchronous exchange: the program may call back into the page's functions before it
  // answers; each callback's value goes back as a "return" whose reply continues the exchange.
  function exchange(message) {
    let reply = post(message);
    while (reply.invoke) {
      const fn = functions.get(reply.invoke.function);
      let answer;
      try {
        const value = fn ? fn.apply(null, decode(reply.invoke.args || [])) : undefined;
        answer = {op: "return", value: encode(value)};
      } catch (error) {
        reportError(error);
        answer = {op: "return", error: String(error && error.message || error)};
      }
      reply = post(answer);
    }
    // The program loaded the window's page again (a reload key): the page goes there.
    if (reply.navigate) window.location.replace(reply.navigate);
    if ("error" in reply) throw new Error(reply.error);
    return decode(reply.result);
  }

  for (const description of front.objects || []) {
    const object = {};
    for (const method of description.methods || []) {
      object[method] = (...args) => exchange(
          {op: "call", object: description.name, name: method, args: args.map(encode)});
    }
    for (const property of description.properties || []) {
      Object.defineProperty(object, property, {
        enumerable: true,
        get: () => exchange({op: "get", object: description.name, name: property}),
      });
    }
    Object.defineProperty(window, description.name, {value: Object.freeze(object), enumerable: true});
  }

  // ---- keys ---------------------------------------------------------------------------------

  // Key presses go to the window's element handlers as the engine sends them; one that the
  // program handles goes no further. A dialog is a window of its own, to which the program
  // attached no handler; while one is open, its owner takes no key at all (see "windows").
  //
  // The engine's window knows typing and editing in its fields, moving between its controls
  // and pressing buttons; every other key is the browser's (reload, history, zoom, find, print,
  // save, windows and tabs, developer tools, full screen, its menus) and must not reach it.
  const kEditingWithCtrl = new Set([65, 67, 86, 88, 89, 90,  // A C V X Y Z
                                    8, 35, 36, 37, 38, 39, 40, 45, 46]);  // Backspace, End ... Delete
  // With Shift too only redo and selecting: Ctrl+Shift+C inspects, Ctrl+Shift+Delete clears data.
  const kEditingWithCtrlShift = new Set([90, 35, 36, 37, 38, 39, 40]);
  function browsersKey(event) {
    const code = event.keyCode;
    if (event.metaKey) return true;
    if (event.altKey) return !(event.getModifierState("AltGraph") && event.key.length === 1);
    if (code >= 112 && code <= 135) return true;  // F1 to F24
    if (/^(Browser|Zoom|Launch)/.test(event.key) || code === 93) return true;  // ... and the menu key
    if (event.ctrlKey) return !(event.shiftKey ? kEditingWithCtrlShift : kEditingWithCtrl).has(code);
    return event.shiftKey && event.key === "Escape";  // the browser's task manager
  }

  function sendKey(command, event) {
    if (browsersKey(event) || heldBy.length > 0) event.preventDefault();
    if (heldBy.length > 0) {
      event.stopPropagation();
      heldBy[heldBy.length - 1].focus();
      return;
    }
    if (command === "down" && event.key === "Tab" && !event.ctrlKey && !event.altKey && !event.metaKey) {
      keepFocusInside(event);
    }
    if (!front.bridge || isDialog) return;
    let handled = false;
    try {
      handled = exchange({op: "key", command, code: event.keyCode, ctrl: event.ctrlKey,
                          shift: event.shiftKey, alt: event.altKey}) === true;
    } catch (error) { handled = false; }
    if (handled) {
      event.preventDefault();
      event.stopPropagation();
    }
  }
  window.addEventListener("keydown", (event) => sendKey("down", event), true);
  window.addEventListener("keyup", (event) => sendKey("up", event), true);

  // Tab goes round the window's controls, as in a window of its own: past the last one the
  // browser would take the focus out of the page, where no key reaches the window.
  function tabStops() {
    return Array.from(document.querySelectorAll(
        "button, input, textarea, select, a[href], [tabindex]")).filter((element) =>
      element.tabIndex >= 0 && !element.disabled && !element.closest("[inert]") &&
      element.getClientRects().length > 0);
  }
  function keepFocusInside(event) {
    const stops = tabStops();
    if (stops.length === 0) return;
    const at = stops.indexOf(document.activeElement);
    const edge = event.shiftKey ? 0 : stops.length - 1;
    if (at !== -1 && at !== edge) return;  // the browser moves it within the page
    event.preventDefault();
    stops[event.shiftKey ? stops.length - 1 : 0].focus();
  }

  // The browser's other ways to the same: its context menu (reload, back, print, inspect) and
  // zooming with Ctrl and the wheel.
  window.addEventListener("contextmenu", (event) => event.preventDefault(), true);
  window.addEventListener("wheel", (event) => { if (event.ctrlKey) event.preventDefault(); },
                          {capture: true, passive: false});

  // ---- console ------------------------------------------------------------------------------

  function formatArgument(value) {
    if (typeof value === "string") return value;
    if (value instanceof Error) return value.stack || String(value);
    try { return typeof value === "object" && value !== null ? JSON.stringify(value) : String(value); }
    catch (error) { return String(value); }
  }

  function forward(level, args) {
    rawConsole[level](...args);
    if (!front.bridge) return;
    try { post({op: "console", level, text: args.map(formatArgument).join(" ")}); }
    catch (error) { /* page dismissal forbids synchronous requests: nothing to tell */ }
  }

  for (const level of ["log", "warn", "error"]) console[level] = (...args) => forward(level, args);
  console.info = console.log;
  console.debug = console.log;

  function reportError(error) { forward("error", [error]); }
  window.addEventListener("error", (event) => forward("error", [event.error || event.message]));
  window.addEventListener("unhandledrejection", (event) => forward("error", [event.reason]));

  // ---- JSX and the reactor ------------------------------------------------------------------

  window.JSX = (tag, attributes, children) => [tag, attributes || null, children || []];

  const kClass = Symbol("component class");
  const kKey = Symbol("key");
  const kAttributes = Symbol("attributes set by the reactor");
  const kProps = Symbol("props");
  const flattened = new WeakMap();  // component class -> Map(tag prototype -> element prototype)
  let constructing = null;
  let didMount = [];
  let patchDepth = 0;

  // Component classes extend this in place of the DOM's Element: `super()` hands back the
  // element that the reactor made, so `this` is the element itself.
  function ReactorElement() {
    const element = constructing;
    constructing = null;
    if (!element) throw new TypeError("component elements are made by patch()");
    return element;
  }
  ReactorElement.prototype = DomElement.prototype;
  Object.defineProperty(ReactorElement, Symbol.hasInstance, {
    value(object) {
      if (this === ReactorElement) return object instanceof DomElement;
      for (let cls = object && object[kClass]; cls && cls !== ReactorElement; cls = Object.getPrototypeOf(cls)) {
        if (cls === this) return true;
      }
      return Function.prototype[Symbol.hasInstance].call(this, object);
    },
  });
  window.Element = ReactorElement;

  function isComponentClass(tag) {
    return typeof tag === "function" && tag.prototype instanceof DomElement;
  }

  // A class's methods over the prototype of the element's own tag, so that both a textarea's
  // `value` and the component's methods are found.
  function prototypeFor(cls, tagPrototype) {
    let byTag = flattened.get(cls);
    if (!byTag) flattened.set(cls, byTag = new Map());
    let proto = byTag.get(tagPrototype);
    if (proto) return proto;
    proto = Object.create(tagPrototype);
    const chain = [];
    for (let p = cls.prototype; p && p !== DomElement.prototype; p = Object.getPrototypeOf(p)) chain.unshift(p);
    for (const p of chain) {
      for (const key of Reflect.ownKeys(p)) Object.defineProperty(proto, key, Object.getOwnPropertyDescriptor(p, key));
    }
    proto[kClass] = cls;
    byTag.set(tagPrototype, proto);
    return proto;
  }

  function handlerMethods(cls) {
    const names = new Set();
    for (let p = cls.prototype; p && p !== DomElement.prototype; p = Object.getPrototypeOf(p)) {
      for (const key of Object.getOwnPropertyNames(p)) if (/^on\s+\S+/.test(key)) names.add(key);
    }
    return names;
  }

  const kDomEvents = {change: "input"};
  const kNonBubbling = new Set(["focus", "blur", "mouseenter", "mouseleave", "load", "scroll"]);

  // "on <event>[ at <selector>]" methods handle events of the element and its children.
  function bindHandlers(element, cls) {
    for (const name of handlerMethods(cls)) {
      const match = /^on\s+(\S+)(?:\s+at\s+(.+))?$/.exec(name);
      if (!match) continue;
      const [, event, selector] = match;
      element.addEventListener(kDomEvents[event] || event, (evt) => {
        let matched = element;
        if (selector) {
          matched = evt.target instanceof DomElement ? evt.target.closest(selector) : null;
          if (!matched || !element.contains(matched)) return;
        }
        if (element[name](evt, matched) === true) {
          evt.stopPropagation();
          evt.preventDefault();
        }
      }, kNonBubbling.has(event));
    }
  }

  // Function components and texts are resolved to a tag vnode or a component vnode.
  function resolve(vnode) {
    while (Array.isArray(vnode) && typeof vnode[0] === "function" && !isComponentClass(vnode[0])) {
      vnode = vnode[0](vnode[1] || {}, vnode[2] || []);
    }
    return vnode;
  }

  function flattenKids(kids, out = []) {
    for (const kid of kids || []) {
      if (kid === null || kid === undefined || typeof kid === "boolean") continue;
      if (Array.isArray(kid) && !(typeof kid[0] === "string" || typeof kid[0] === "function")) flattenKids(kid, out);
      else if (Array.isArray(kid)) out.push(resolve(kid));
      else out.push(String(kid));
    }
    return out;
  }

  function setAttributes(element, attributes) {
    const previous = element[kAttributes] || new Set();
    const current = new Set();
    for (const [name, value] of Object.entries(attributes || {})) {
      if (name === "key") { element[kKey] = value; continue; }
      current.add(name);
      if (typeof value === "function") { element[name] = value; continue; }
      if ((name === "value" || name === "checked") && name in element) {
        if (element[name] !== value) element[name] = value;
        continue;
      }
      if (name === "style" && value && typeof value === "object") {
        element.style.cssText = Object.entries(value).map(([k, v]) => k + ":" + v).join(";");
        continue;
      }
      if (value === false || value === null || value === undefined) element.removeAttribute(name);
      else element.setAttribute(name, value === true ? "" : String(value));
      if (name === "styleset") loadStyleSet(element);
    }
    for (const name of previous) {
      if (!current.has(name)) {
        if (typeof element[name] === "function") element[name] = null;
        else element.removeAttribute(name);
      }
    }
    element[kAttributes] = current;
  }

  function unmount(node) {
    if (!(node instanceof DomElement)) return;
    for (const child of node.children) unmount(child);
    if (node[kClass] && typeof node.componentWillUnmount === "function") {
      try { node.componentWillUnmount(); } catch (error) { reportError(error); }
    }
  }

  function sameKind(element, vnode) {
    if (!(element instanceof DomElement)) return false;
    if (isComponentClass(vnode[0])) return element[kClass] === vnode[0];
    return !element[kClass] && element.tagName.toLowerCase() === String(vnode[0]).toLowerCase();
  }

  function findMatch(old, used, kid) {
    const free = old.filter((node) => !used.has(node));
    if (typeof kid === "string") return free.find((node) => node.nodeType === Node.TEXT_NODE);
    const attributes = kid[1] || {};
    const elements = free.filter((node) => sameKind(node, kid));
    if (attributes.key !== undefined) return elements.find((node) => node[kKey] === attributes.key);
    for (const name of ["id", "name"]) {
      if (attributes[name] !== undefined && !isComponentClass(kid[0])) {
        return elements.find((node) => node.getAttribute(name) === String(attributes[name]));
      }
    }
    return elements.find((node) => node[kKey] === undefined);
  }

  function patchChildren(parent, kids) {
    const wanted = flattenKids(kids);
    const old = Array.from(parent.childNodes);
    const used = new Set();
    wanted.forEach((kid, index) => {
      let node = findMatch(old, used, kid);
      if (node) {
        used.add(node);
        if (typeof kid === "string") { if (node.data !== kid) node.data = kid; }
        else node = patchElement(node, kid);
      } else {
        node = create(kid);
      }
      const at = parent.childNodes[index];
      if (at !== node) parent.insertBefore(node, at || null);
    });
    for (const node of old) {
      if (!used.has(node) && node.parentNode === parent) {
        unmount(node);
        node.remove();
      }
    }
  }

  function create(kid) {
    if (typeof kid === "string") return document.createTextNode(kid);
    if (isComponentClass(kid[0])) return mount(kid[0], kid[1] || {}, kid[2] || [], null);
    const element = document.createElement(kid[0]);
    setAttributes(element, kid[1]);
    patchChildren(element, kid[2]);
    return element;
  }

  function patchElement(element, vnode) {
    vnode = resolve(vnode);
    if (isComponentClass(vnode[0])) {
      if (element[kClass] === vnode[0]) {
        update(element, vnode[1] || {}, vnode[2] || []);
        return element;
      }
      return mount(vnode[0], vnode[1] || {}, vnode[2] || [], element);
    }
    setAttributes(element, vnode[1]);
    patchChildren(element, vnode[2]);
    return element;
  }

  // constructor, this(props, kids), render(props, kids), later componentDidMount().
  function mount(cls, props, kids, existing) {
    let element = existing || document.createElement("div");
    const tagPrototype = Object.getPrototypeOf(element);
    Object.setPrototypeOf(element, prototypeFor(cls, tagPrototype));
    element[kProps] = {props, kids};
    constructing = element;
    try { new cls(props, kids); } finally { constructing = null; }
    if (typeof element.this === "function") element.this(props, kids);
    const rendered = resolve(element.render(props, kids));
    const tag = Array.isArray(rendered) && typeof rendered[0] === "string" ? rendered[0] : null;
    if (!existing && tag && tag.toLowerCase() !== "div") {
      // A browser cannot retag an element: move what the constructor set to one of the
      // rendered tag (closures made in the constructor still see the first one).
      const retagged = document.createElement(tag);
      for (const key of Reflect.ownKeys(element)) {
        Object.defineProperty(retagged, key, Object.getOwnPropertyDescriptor(element, key));
      }
      Object.setPrototypeOf(retagged, prototypeFor(cls, Object.getPrototypeOf(retagged)));
      element = retagged;
    }
    if (props.key !== undefined) element[kKey] = props.key;  // the parent's key, matched on its re-render
    bindHandlers(element, cls);
    if (tag) {
      setAttributes(element, rendered[1]);
      patchChildren(element, rendered[2]);
    }
    didMount.push(element);
    return element;
  }

  function update(element, props, kids) {
    element[kProps] = {props, kids};
    if (typeof element.this === "function") element.this(props, kids);
    rerender(element);
  }

  function rerender(element) {
    pending.delete(element);
    const {props, kids} = element[kProps] || {props: {}, kids: []};
    const rendered = resolve(element.render(props, kids));
    if (Array.isArray(rendered) && typeof rendered[0] === "string") {
      setAttributes(element, rendered[1]);
      patchChildren(element, rendered[2]);
    }
  }

  function flushDidMount() {
    const mounted = didMount;
    didMount = [];
    for (const element of mounted) {
      if (typeof element.componentDidMount === "function") {
        try { element.componentDidMount(); } catch (error) { reportError(error); }
      }
    }
  }

  function patched(work) {
    ++patchDepth;
    try { return work(); } finally { if (--patchDepth === 0) flushDidMount(); }
  }

  const pending = new Set();
  let pendingTask = 0;

  Object.assign(DomElement.prototype, {
    patch(vnode, onlyChildren) {
      return patched(() => {
        if (onlyChildren) patchChildren(this, resolve(vnode)[2]);
        else patchElement(this, vnode);
        return this;
      });
    },
    componentUpdate(fields) {
      for (const [key, value] of Object.entries(fields || {})) if (this[key] !== value) this[key] = value;
      pending.add(this);
      if (!pendingTask) {
        pendingTask = setTimeout(() => {
          pendingTask = 0;
          patched(() => { for (const element of Array.from(pending)) if (pending.has(element)) rerender(element); });
        }, 0);
      }
      return this;
    },
    $(selector) { return this.querySelector(selector); },
    $$(selector) { return Array.from(this.querySelectorAll(selector)); },
    toPixels(length) { return lengthToDevicePixels(length); },
  });
  Document.prototype.$ = function (selector) { return this.querySelector(selector); };
  Document.prototype.$$ = function (selector) { return Array.from(this.querySelectorAll(selector)); };

  function lengthToDevicePixels(length) {
    const match = /^\s*(-?[\d.]+)\s*(dip|px)?\s*$/.exec(String(length));
    if (!match) return NaN;
    const value = Number(match[1]);
    // dip is the browser's CSS pixel; the engine's px is a device pixel.
    return match[2] === "px" ? value : value * window.devicePixelRatio;
  }

  // ---- style sheets -------------------------------------------------------------------------

  const loadedSheets = new Set();
  const mediaValues = {};

  function fetchText(url) {
    const xhr = new XMLHttpRequest();
    xhr.open("GET", url, false);
    xhr.send();
    return xhr.status === 200 ? xhr.responseText : null;
  }

  function addRewrittenSheet(url, after) {
    if (loadedSheets.has(url)) return;
    loadedSheets.add(url);
    const text = fetchText(url);
    if (text === null || !window.tallorinCss) return;
    const style = document.createElement("style");
    style.dataset.source = url;
    style.textContent = window.tallorinCss.rewriteCss(text, {baseUrl: url});
    if (after && after.parentNode) after.after(style);
    else (document.head || document.documentElement).append(style);
  }

  // A styleset attribute ("file.css#Name") brings its file's style sets into the page.
  function loadStyleSet(element) {
    const value = element.getAttribute("styleset");
    if (!value) return;
    addRewrittenSheet(new URL(value.replace(/#.*$/, ""), document.baseURI).href, null);
  }

  function adoptStyles(node) {
    if (!(node instanceof DomElement)) return;
    if (node.tagName === "LINK" && /\bstylesheet\b/i.test(node.rel) && !node.dataset.rewritten) {
      node.dataset.rewritten = "";
      node.media = "not all";  // the engine's dialect: the rewritten copy below takes its place
      addRewrittenSheet(node.href, node);
    } else if (node.tagName === "STYLE" && !node.dataset.source && window.tallorinCss) {
      node.dataset.source = "";
      node.textContent = window.tallorinCss.rewriteCss(node.textContent, {baseUrl: document.baseURI});
    }
    if (node.hasAttribute("styleset")) loadStyleSet(node);
    for (const child of node.querySelectorAll("link, style, [styleset]")) adoptStyles(child);
  }

  new MutationObserver((records) => {
    for (const record of records) {
      if (record.type === "attributes") adoptStyles(record.target);
      for (const node of record.addedNodes || []) adoptStyles(node);
    }
  }).observe(document, {childList: true, subtree: true, attributes: true, attributeFilter: ["styleset"]});

  // Media variables appear as data-media-<name> attributes of <html>, which the rewritten
  // @media blocks test.
  function setMediaVar(name, value) {
    mediaValues[name] = value;
    const attribute = "data-media-" + name;
    if (value === undefined || value === null || value === false) document.documentElement.removeAttribute(attribute);
    else document.documentElement.setAttribute(attribute, String(value));
  }

  // ---- windows ------------------------------------------------------------------------------

  const dialogs = new Map();  // iframe -> {parameters, parent, finish}
  let closing = false;

  function dispatchClosing() {
    const request = new Event("closerequest", {cancelable: true});
    if (!document.dispatchEvent(request)) return false;
    closing = true;
    document.dispatchEvent(new Event("beforeunload"));
    document.dispatchEvent(new Event("unload"));
    return true;
  }

  // The browser's own unload reaches the document as the engine's does, once.
  window.addEventListener("beforeunload", () => { if (!closing) document.dispatchEvent(new Event("beforeunload")); });
  window.addEventListener("unload", () => { if (!closing) document.dispatchEvent(new Event("unload")); });

  class FrontWindow {
    constructor(parameters, parent, finish) {
      this.parameters = parameters;
      this.parent = parent;
      this.state = FrontWindow.WINDOW_SHOWN;
      this._finish = finish;
    }

    get isAlive() { return !closing; }

    close(value) {
      if (closing || !dispatchClosing()) return false;
      this.state = FrontWindow.WINDOW_HIDDEN;
      if (this._finish) {
        this._finish(value);
      } else {
        post({op: "close", value: encode(value)});
        // The engine's window is gone now; Chromium's goes a moment later and must take no
        // more input meanwhile.
        holdOwner(null);
      }
      return true;
    }

    mediaVar(name, value) {
      if (arguments.length > 1) setMediaVar(name, value);
      return mediaValues[name];
    }

    mediaVars(values) {
      if (values) for (const [name, value] of Object.entries(values)) setMediaVar(name, value);
      return Object.assign({}, mediaValues);
    }

    // A dialog cannot block a browser page's script: the promise gives what the dialog closed
    // with. It holds its owner as the engine's modal window does: an overlay holds the dialog
    // page in a frame, everything else of the page is inert (no mouse, no keyboard, no focus),
    // the keyboard goes into the dialog, and once it closes the focus goes back where it was.
    modal(options) {
      return new Promise((resolve, reject) => {
        const opener = document.activeElement;
        const overlay = document.createElement("div");
        overlay.setAttribute("data-front", "modal");
        overlay.style.cssText = "position:fixed;inset:0;z-index:2147483647;display:flex;" +
                                "align-items:center;justify-content:center;background:transparent";
        const frame = document.createElement("iframe");
        const ratio = window.devicePixelRatio;
        const width = options.width !== undefined ? options.width / ratio : 400;
        const height = options.height !== undefined ? options.height / ratio : 300;
        frame.style.cssText = `border:0;background:transparent;width:${width}px;height:${height}px`;
        frame.setAttribute("allowtransparency", "true");
        let release = () => {};
        let done = false;
        const finish = (value, error) => {
          if (done) return;
          done = true;
          dialogs.delete(frame);
          overlay.remove();
          release();
          heldBy.splice(heldBy.indexOf(frame), 1);
          if (heldBy.length > 0) heldBy[heldBy.length - 1].focus();
          else if (opener && opener !== document.body && opener.isConnected && typeof opener.focus === "function") {
            opener.focus({preventScroll: true});
          }
          if (error) reject(error); else resolve(value);
        };
        dialogs.set(frame, {parameters: options.parameters, parent: this, finish});
        frame.addEventListener("load", () => {
          let opened = false;
          try { opened = !!(frame.contentWindow.Window && frame.contentWindow.Window.this); } catch (error) { /* foreign */ }
          if (!opened) finish(undefined, new Error("dialog page failed to load: " + options.url));
        });
        // A click beside the dialog gives the keyboard back to it.
        overlay.addEventListener("mousedown", (event) => {
          if (event.target === overlay) {
            event.preventDefault();
            frame.focus();
          }
        });
        frame.src = new URL(options.url, document.baseURI).href;
        overlay.append(frame);
        document.documentElement.append(overlay);
        release = holdOwner(overlay);
        heldBy.push(frame);
        frame.focus();
      });
    }
  }

  // Everything of the page but the dialog's overlay (if any) becomes inert; answers what undoes that.
  function holdOwner(overlay) {
    const held = [];
    for (const element of Array.from(document.documentElement.children)) {
      if (element !== overlay && !element.inert) {
        element.inert = true;
        held.push(element);
      }
    }
    const focused = document.activeElement;
    if (focused && focused !== document.body && !(overlay && overlay.contains(focused)) && typeof focused.blur === "function") {
      focused.blur();
    }
    return () => { for (const element of held) element.inert = false; };
  }

  // A dialog's own keys, as the engine's dialog window has them: the keyboard starts on its
  // default button (role "default-button", else its first button outside the caption); Enter
  // where no control takes it presses that button, Escape presses its cancel or close button
  // (role "cancel-button", "close", "window-close") or else closes it with no value.
  function usable(element) {
    return !!element && !element.disabled && element.getClientRects().length > 0;
  }
  function defaultButton() {
    const marked = document.querySelector('[role="default-button"]');
    if (usable(marked)) return marked;
    return Array.from(document.querySelectorAll("button")).find((button) =>
      usable(button) && !button.closest('[role="window-caption"]') &&
      !/^(cancel-button|close|window-close)$/.test(button.getAttribute("role") || "")) || null;
  }
  function cancelButton() {
    for (const role of ["cancel-button", "close", "window-close"]) {
      const found = document.querySelector(`[role="${role}"]`);
      if (usable(found)) return found;
    }
    return null;
  }
  function takesEnter(element) {
    return element instanceof HTMLButtonElement || element instanceof HTMLTextAreaElement ||
           element instanceof HTMLSelectElement || element instanceof HTMLAnchorElement ||
           (element instanceof HTMLElement && element.isContentEditable);
  }
  function dialogKeys() {
    let placed = false;
    const place = () => {
      const button = placed ? null : defaultButton();
      if (!button) return;
      placed = true;
      observer.disconnect();
      const focused = document.activeElement;
      if (!focused || focused === document.body || focused === document.documentElement) {
        button.focus({preventScroll: true});
      }
    };
    const observer = new MutationObserver(place);
    observer.observe(document, {childList: true, subtree: true, attributes: true});
    window.addEventListener("load", place);
    window.addEventListener("keydown", (event) => {
      if (event.ctrlKey || event.altKey || event.metaKey || event.shiftKey || heldBy.length > 0) return;
      if (event.key === "Escape") {
        event.preventDefault();
        event.stopPropagation();
        const cancel = cancelButton();
        if (cancel) cancel.click();
        else Window.this.close();
      } else if (event.key === "Enter" && !takesEnter(event.target)) {
        const button = defaultButton();
        if (!button) return;
        event.preventDefault();
        event.stopPropagation();
        button.click();
      }
    }, true);
  }
  Object.assign(FrontWindow, {
    FRAME_WINDOW: 1, DIALOG_WINDOW: 2, POPUP_WINDOW: 3, TOOL_WINDOW: 4, CHILD_WINDOW: 5,
    WINDOW_SHOWN: 1, WINDOW_MINIMIZED: 2, WINDOW_MAXIMIZED: 3, WINDOW_HIDDEN: 4, WINDOW_FULL_SCREEN: 5,
  });

  let dialog = null;
  try {
    const host = window.frameElement && window.parent.__tallorinFrontDialogs;
    dialog = host ? host.get(window.frameElement) : null;
  } catch (error) { dialog = null; }
  FrontWindow.this = dialog ? new FrontWindow(dialog.parameters, dialog.parent, dialog.finish)
                            : new FrontWindow(front.parameters, null, null);
  Object.defineProperty(window, "__tallorinFrontDialogs", {value: dialogs});
  window.Window = FrontWindow;
  if (dialog) dialogKeys();
})();

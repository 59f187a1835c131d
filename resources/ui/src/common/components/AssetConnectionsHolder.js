// The listener ids that one component holds on one native object. Disconnected holders give
// their ids back a while later (the object may be firing the very event being unsubscribed),
// all at once when another holder for the object is made, and when the document unloads.
const kReleaseDelayMs = 5000;
const holders = new Set();
let releaseTimer = null;

function releaseDisconnected() {
  releaseTimer = null;
  for (const holder of Array.from(holders)) {
    if (!holder.disconnected) {
      continue;
    }
    try {
      holder.release();
    } catch (error) {
      continue;  // busy: the next round tries again
    }
    if (holder.ids.length === 0) {
      holders.delete(holder);
    }
  }
}

function armReleaseTimer() {
  if (releaseTimer !== null) {
    clearTimeout(releaseTimer);
  }
  releaseTimer = setTimeout(releaseDisconnected, kReleaseDelayMs);
}

document.addEventListener("beforeunload", () => {
  for (const holder of Array.from(holders)) {
    try {
      holder.release(true);
    } catch (error) {
      // the window is going away
    }
  }
  holders.clear();
});

export class AssetConnectionsHolder {
  // handlers: { eventName: function }
  constructor(asset, handlers) {
    for (const holder of Array.from(holders)) {
      if (holder.asset === asset && holder.disconnected) {
        try {
          holder.release(true);
        } catch (error) {
          continue;
        }
        holders.delete(holder);
      }
    }
    this.asset = asset;
    this.ids = [];
    this.disconnected = false;
    this.busy = 0;
    for (const [event, handler] of Object.entries(handlers || {})) {
      const id = asset.on(event, (...args) => this.run(handler, args));
      if (typeof id === "string" && id !== "") {
        this.ids.push(id);
      }
    }
    holders.add(this);
  }

  run(handler, args) {
    if (this.disconnected) {
      return undefined;
    }
    ++this.busy;
    try {
      return handler(...args);
    } finally {
      --this.busy;
    }
  }

  disconnect() {
    this.disconnected = true;
    armReleaseTimer();
  }

  // Gives the ids back; those the object does not confirm stay for a later try unless forced.
  release(force = false) {
    if (this.busy > 0) {
      throw new Error("could not release connections while handler being executed");
    }
    this.ids = this.ids.filter((id) => {
      let removed = false;
      try {
        removed = this.asset.removeListener(id) === true;
      } catch (error) {
        removed = false;
      }
      return !removed && !force;
    });
  }
}

// A component that follows language changes and logs under its class name.
import { AssetConnectionsHolder } from "./AssetConnectionsHolder.js";

export class BaseComponent extends Element {
  constructor(props, kids) {
    super();
    this.props = props || {};
    this.kids = kids || [];
    this.holders = new Map([
      [Localizer, new AssetConnectionsHolder(Localizer, {
        "language-changed": () => {
          this.log("locale changed");
          this.componentUpdate();
        },
      })],
      // Service notifications of "Application": none of this window's components asks for any.
      [Application, new AssetConnectionsHolder(Application, {})],
    ]);
  }

  this(props, kids) {
    this.props = props || {};
    this.kids = kids || [];
  }

  log(...args) {
    console.log(`<${this.constructor.name}>`, ...args);
  }

  componentWillUnmount() {
    for (const holder of this.holders.values()) {
      holder.disconnect();
    }
  }
}

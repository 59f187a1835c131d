// A component bound to one native object: at unmount it interrupts what the object does for
// it and gives back its connections at once.
import { BaseComponent } from "./BaseComponent.js";

export class AssetBaseComponent extends BaseComponent {
  constructor(props, kids, asset) {
    super(props, kids);
    this.asset = asset;
  }

  componentWillUnmount() {
    try {
      this.asset.Interrupt();
    } catch (error) {
      // objects without anything to interrupt
    }
    super.componentWillUnmount();
    try {
      this.holders.get(this.asset)?.release();
    } catch (error) {
      this.log("failed to release connections. error - " + error);
    }
  }
}

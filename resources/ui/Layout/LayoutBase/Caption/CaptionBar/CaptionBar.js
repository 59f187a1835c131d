// The caption's buttons: here only the close button.
import { folderOf } from "../../../../src/common/paths.js";
import { BaseComponent } from "../../../../src/common/components/BaseComponent.js";
import { Image } from "../../../../src/common/components/Image/Image.js";

const kHere = folderOf(import.meta.url);

export class CaptionBar extends BaseComponent {
  render() {
    return JSX("div", { class: "caption-bar", styleset: kHere + "CaptionBar.css#CaptionBar" }, [
      JSX("button", { id: "close", role: "close", class: "caption-button" }, [
        JSX(Image, { src: kHere + "images/close.svg", width: 12, height: 12 }, []),
      ]),
    ]);
  }

  // A page may keep its window open by consuming "on-close"; nobody does in the main window.
  ["on click at #close"]() {
    const event = new Event("on-close", { cancelable: true });
    if (document.dispatchEvent(event)) {
      Window.this.close();
    }
    return true;
  }
}

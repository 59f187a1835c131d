// The title strip: it drags the window, shows the logo and the title, and holds the close button.
import { folderOf } from "../../../src/common/paths.js";
import { Image } from "../../../src/common/components/Image/Image.js";
import { TextItem } from "../../../src/common/components/Text/TextItem.js";
import { CaptionBar } from "./CaptionBar/CaptionBar.js";

const kHere = folderOf(import.meta.url);

export function Caption(props) {
  return JSX("header", { class: "caption", role: "window-caption", styleset: kHere + "Caption.css#Caption" }, [
    JSX(Image, { class: "caption-logo", src: kHere + "images/logo-30.svg", width: 30, height: 30 }, []),
    JSX(TextItem, { class: "caption-text", text: props.text }, []),
    JSX(CaptionBar, {}, []),
  ]);
}

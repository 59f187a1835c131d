// The box's frame: a caption with its buttons, the line in the colours of the box's state,
// and the content.
import { folderOf } from "../paths.js";
import { ShowCaptionButtons } from "../constants.js";
import { CaptionBar } from "../../../Layout/LayoutBase/Caption/CaptionBar/CaptionBar.js";

const kHere = folderOf(import.meta.url);

export function MessageBoxLayoutBase(props, kids) {
  const captionButtons = props.showCaptionButtons || [ShowCaptionButtons.CLOSE];
  return JSX("div", { class: "message-box " + props.type, styleset: kHere + "MessageBox.css#MessageBox" }, [
    JSX("div", { class: "message-box-caption", role: "window-caption" }, [
      captionButtons.includes(ShowCaptionButtons.CLOSE) ? JSX(CaptionBar, {}, []) : null,
    ]),
    JSX("div", { class: "message-box-state" }, []),
    JSX("div", { class: "message-box-content" }, kids),
  ]);
}

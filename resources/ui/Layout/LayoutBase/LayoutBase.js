// The window's frame: the caption strip and, below it, the content of the page.
import { folderOf } from "../../src/common/paths.js";
import { Caption } from "./Caption/Caption.js";

const kHere = folderOf(import.meta.url);

export function LayoutBase(props, kids) {
  return JSX("div", { class: "layout-base", styleset: kHere + "LayoutBase.css#LayoutBase" }, [
    JSX(Caption, { text: props.caption }, []),
    JSX("main", { class: "layout-main" }, kids),
  ]);
}

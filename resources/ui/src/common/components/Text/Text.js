// Paragraphs of marked texts (gettext or pgettext), translated as they are shown.
import { folderOf } from "../../paths.js";
import { TextItem } from "./TextItem.js";

const kHere = folderOf(import.meta.url);

export function Text(props) {
  return JSX("div", { class: ["text", props.class].filter(Boolean).join(" "), styleset: kHere + "Text.css#Text" },
    (props.items || []).map((item) => JSX(TextItem, { text: item }, [])));
}

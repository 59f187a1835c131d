import { plocalize } from "../../localization.js";

// text: a marked text, either the text itself or { text, context }.
export function TextItem(props) {
  const item = props.text;
  const marked = item !== null && typeof item === "object" ? item : { text: item, context: "" };
  return JSX("p", { class: ["text-item", props.class].filter(Boolean).join(" ") }, [
    plocalize(marked.context, marked.text),
  ]);
}

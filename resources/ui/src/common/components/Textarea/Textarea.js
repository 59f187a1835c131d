// A plain text area. Without a placeholder it shows none: the lookup still runs, as for every
// text of a field, but the text of a missing value is not shown.
import { localize } from "../../localization.js";

export function Textarea(props) {
  const placeholder = localize(props.placeholder);
  return JSX("textarea", {
    id: props.id,
    class: "textarea",
    maxlength: props.maxLength,
    spellcheck: props.spellcheck ? "true" : "false",
    placeholder: props.placeholder === undefined ? "" : placeholder,
  }, []);
}

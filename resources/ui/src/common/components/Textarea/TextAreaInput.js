// A text area with its label and a counter of what it holds against its limit.
import { folderOf } from "../../paths.js";
import { localize } from "../../localization.js";
import { Textarea } from "./Textarea.js";

const kHere = folderOf(import.meta.url);

export class TextAreaInput extends Element {
  constructor(props, kids) {
    super();
    this.props = props || {};
    this.count = 0;
  }

  this(props) {
    this.props = props || {};
  }

  render() {
    const props = this.props;
    return JSX("div", { class: "textarea-input", styleset: kHere + "Textarea.css#Textarea" }, [
      JSX(Textarea, { id: props.id, maxLength: props.maxLength, placeholder: props.placeholder, spellcheck: false }, []),
      JSX("div", { class: "textarea-footer" }, [
        JSX("label", { class: "textarea-label", for: props.id }, [localize(props.label)]),
        JSX("span", { class: "textarea-counter" }, ["{0}/{1}".format(this.count, props.maxLength)]),
      ]),
    ]);
  }

  ["on change at textarea"](evt, area) {
    this.componentUpdate({ count: area.value.length });
  }
}

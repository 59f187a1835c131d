// The start page's module: fills the content area below the caption.
import { Caption } from "./Layout/Caption/Caption.js";

const content = document.$("#content");
content.append(Caption("The product has stopped working."));
